// Internal to the LibreOffice backend: keeping a pass out of the user's way in a visible Calc.
//
// What the user is doing: typing into a cell (Calc's Undo command then reports the state of the
// cell's own text editor, a number, instead of the "Undo: …" text of the document's history), or
// a dialog of the office open (a visible top window that is a dialog). A write, a recalculation
// or a store would end the cell edit or act under the dialog.
//
// What a pass leaves behind: from the first switch of a pass (calculation manual, screen updating
// off) to the last one back, the document's undo manager is locked, so that the pass's writes are
// not what the user's Ctrl+Z undoes and the history does not grow with every pass, and the
// document's modified state is put back as it was before (the calculation switch alone makes
// Calc mark it modified). All of these run UNO calls: call them inside Session::Call.
#pragma once

#include "LibreOfficeSession.h"

namespace velt::lo {

// True while the user types into a cell of the document's window.
bool UserIsEditingCell(DocumentState& document);
// True while a dialog of the office is on the screen.
bool OfficeDialogOpen(Session& session);

// Idempotent per pass: the first call records the modified state and locks the undo manager.
void HoldForPass(DocumentState& document);
// Calc switches its history back on inside some writes (a bulk store restores the document's own
// undo setting when it ends), so that the next write would be recorded again: called before every
// write of a pass, it switches the history off once more.
void KeepUndoLocked(DocumentState& document);
// Undoes HoldForPass, once.
void ReleaseAfterPass(DocumentState& document);

// Stores the document to its own file in its own format. Once one store has failed (the file
// read-only for a moment, a full disk), Calc 7.4 refuses every later store() with 0x507 even when
// the file is writable again; a copy stored over the file in the same format then saves it, and
// the document counts as saved.
void StoreInPlace(const Reference<css::frame::XModel>& model);

}  // namespace velt::lo
