#include "OfficeUser.h"

#include <com/sun/star/awt/Toolkit.hpp>
#include <com/sun/star/awt/XDialog2.hpp>
#include <com/sun/star/awt/XExtendedToolkit.hpp>
#include <com/sun/star/awt/XTopWindow.hpp>
#include <com/sun/star/awt/XWindow2.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/document/XUndoManager.hpp>
#include <com/sun/star/document/XUndoManagerSupplier.hpp>
#include <com/sun/star/frame/FeatureStateEvent.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XDispatch.hpp>
#include <com/sun/star/frame/XDispatchProvider.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XStatusListener.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/io/IOException.hpp>
#include <com/sun/star/util/URL.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <cppuhelper/implbase1.hxx>
#include <rtl/ref.hxx>

#include <mutex>

namespace velt::lo {

namespace {

using css::uno::Any;
using css::uno::UNO_QUERY;

// Takes the one state report that addStatusListener delivers at once.
class StateProbe : public cppu::WeakImplHelper1<css::frame::XStatusListener> {
 public:
  void SAL_CALL statusChanged(const css::frame::FeatureStateEvent& event) override {
    std::lock_guard lock(mutex_);
    reported_ = true;
    enabled_ = event.IsEnabled;
    state_ = event.State;
  }
  void SAL_CALL disposing(const css::lang::EventObject&) override {}

  // Whether a report came, and whether its state is something other than a text.
  bool ReportedNonText() {
    std::lock_guard lock(mutex_);
    return reported_ && enabled_ && state_.hasValue() &&
           state_.getValueTypeClass() != css::uno::TypeClass_STRING;
  }

 private:
  std::mutex mutex_;
  bool reported_ = false;
  bool enabled_ = false;
  Any state_;
};

css::util::URL CommandUrl(const char* command) {
  css::util::URL url;
  url.Protocol = ".uno:";
  url.Path = rtl::OUString::createFromAscii(command);
  url.Main = url.Protocol + url.Path;
  url.Complete = url.Main;
  return url;
}

Reference<css::document::XUndoManager> UndoManagerOf(DocumentState& document) {
  Reference<css::document::XUndoManagerSupplier> supplier(document.model, UNO_QUERY);
  return supplier.is() ? supplier->getUndoManager() : Reference<css::document::XUndoManager>();
}

}  // namespace

bool UserIsEditingCell(DocumentState& document) {
  // The document's history reports its Undo state as the text "Undo: …" (or nothing when empty);
  // while a cell is being typed into, the command belongs to the cell's editor and reports a
  // number. Measured on Calc 7.4 against slow typing, F2, Enter and Escape.
  Reference<css::frame::XController> controller = document.model->getCurrentController();
  if (!controller.is()) return false;
  Reference<css::frame::XDispatchProvider> provider(controller->getFrame(), UNO_QUERY);
  if (!provider.is()) return false;
  const css::util::URL url = CommandUrl("Undo");
  Reference<css::frame::XDispatch> dispatch = provider->queryDispatch(url, "", 0);
  if (!dispatch.is()) return false;
  rtl::Reference<StateProbe> probe = new StateProbe;
  Reference<css::frame::XStatusListener> listener(probe.get());
  dispatch->addStatusListener(listener, url);
  dispatch->removeStatusListener(listener, url);
  return probe->ReportedNonText();
}

bool OfficeDialogOpen(Session& session) {
  // A listener for the office's context changes ("EditCell") would say more, but Calc 7.4's
  // sidebar casts every registered listener to its own class and crashes on a remote one.
  Reference<css::awt::XExtendedToolkit> toolkit(css::awt::Toolkit::create(session.Context()),
                                                UNO_QUERY);
  if (!toolkit.is()) return false;
    // Marked deprecated as not every platform lists its top windows; X11 does (measured).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  const sal_Int32 count = toolkit->getTopWindowCount();
  for (sal_Int32 i = 0; i < count; ++i) {
    Reference<css::awt::XTopWindow> top = toolkit->getTopWindow(i);
#pragma GCC diagnostic pop
    Reference<css::awt::XDialog2> dialog(top, UNO_QUERY);
    if (!dialog.is()) continue;
    Reference<css::awt::XWindow2> window(top, UNO_QUERY);
    if (window.is() && window->isVisible()) return true;
  }
  return false;
}

void HoldForPass(DocumentState& document) {
  if (document.passHeld) return;
  document.modifiedBeforeBatch =
      Reference<css::util::XModifiable>(document.model, css::uno::UNO_QUERY_THROW)->isModified();
  if (Reference<css::document::XUndoManager> undo = UndoManagerOf(document); undo.is()) {
    undo->lock();
    document.undoLocked = true;
  }
  document.passHeld = true;
}

void KeepUndoLocked(DocumentState& document) {
  if (!document.undoLocked) return;
  if (Reference<css::document::XUndoManager> undo = UndoManagerOf(document); undo.is()) {
    // The first lock of a count switches the history off.
    undo->unlock();
    undo->lock();
  }
}

void ReleaseAfterPass(DocumentState& document) {
  if (!document.passHeld) return;
  document.passHeld = false;
  if (document.undoLocked) {
    document.undoLocked = false;
    if (Reference<css::document::XUndoManager> undo = UndoManagerOf(document); undo.is())
      undo->unlock();
  }
  if (!document.modifiedBeforeBatch)
    Reference<css::util::XModifiable>(document.model, css::uno::UNO_QUERY_THROW)
        ->setModified(false);
}

void StoreInPlace(const Reference<css::frame::XModel>& model) {
  Reference<css::frame::XStorable> storable(model, css::uno::UNO_QUERY_THROW);
  try {
    storable->store();
    return;
  } catch (const css::io::IOException&) {
    rtl::OUString filter;
    for (const css::beans::PropertyValue& arg : model->getArgs())
      if (arg.Name == "FilterName") arg.Value >>= filter;
    if (filter.isEmpty()) throw;
    css::uno::Sequence<css::beans::PropertyValue> args(2);
    args.getArray()[0].Name = "FilterName";
    args.getArray()[0].Value <<= filter;
    args.getArray()[1].Name = "Overwrite";
    args.getArray()[1].Value <<= true;
    // Still failing: this failure is the one reported.
    storable->storeToURL(storable->getLocation(), args);
  }
  Reference<css::util::XModifiable>(model, css::uno::UNO_QUERY_THROW)->setModified(false);
}

}  // namespace velt::lo
