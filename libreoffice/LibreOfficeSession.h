// Internal to the LibreOffice backend: one connected office instance, the watchdog that bounds
// every call, the translation of failures into SpreadsheetError, and the documents it holds.
#pragma once

#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <rtl/ustring.hxx>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "LibreOfficeProcess.h"
#include "LibreOfficeSpreadsheet.h"

namespace velt::lo {

namespace css = ::com::sun::star;
using css::uno::Reference;

std::string ToUtf8(const rtl::OUString& text);
rtl::OUString FromUtf8(const std::string& text);

inline constexpr int32_t kMaxRows = 1048576;
inline constexpr int32_t kMaxColumns = 16384;
inline bool CellInRange(int32_t row, int32_t column) {
  return row >= 1 && row <= kMaxRows && column >= 1 && column <= kMaxColumns;
}

// What a call does, for its error message; made into text only when it fails.
struct What {
  explicit What(const char* o, int32_t r = 0, int32_t c = 0, std::string d = {})
      : op(o), row(r), column(c), detail(std::move(d)) {}
  const char* op;
  int32_t row = 0;  // > 0: a cell (row, column) or a column
  int32_t column = 0;
  std::string detail;
  std::string Text() const;
};

// One workbook of the instance, shared by the Workbook object and the close listener (which
// runs on the office's threads).
class DocumentState : public std::enable_shared_from_this<DocumentState> {
 public:
  DocumentState(Reference<css::frame::XModel> model, Poster poster);

  // Program thread only.
  Reference<css::frame::XModel> model;
  Reference<css::uno::XInterface> listener;
  bool controllersLocked = false;
  // The document's number formats, and the type (css::util::NumberFormat) of each format key
  // met so far: a key keeps its format for the document's life.
  Reference<css::uno::XInterface> numberFormats;
  std::unordered_map<int32_t, int16_t> formatTypes;

  // The frame's interceptor of the close commands (CloseInterceptor), while registered.
  Reference<css::uno::XInterface> interceptor;
  // Whether the document was modified when screen updating went off: a pass's writes are not
  // the user's changes, and do not leave it modified.
  bool modifiedBeforeBatch = true;
  // A pass holds the document (OfficeUser.h): from its first switch to its last one back.
  bool passHeld = false;
  bool undoLocked = false;

  // The user asked the office to close the document (a close command, intercepted): runs the
  // handler through the poster while the document is still there. A request that comes while
  // one waits for the handler is the same request.
  void UserAsksToClose();
  // Whether a close command is for the handler (otherwise the office closes as it would).
  bool WantsCloseRequests();
  // The document is gone (closed by a way that was not intercepted): marks it closed and runs
  // the handler through the poster, once.
  void UserClosed();
  bool Closed() const { return closed_; }
  void SetHandler(std::function<void()> handler);
  // No more notifications: our own close is coming.
  void Silence();
  // The file URL the office locks while the document is open, if it has one.
  std::string location;
  // Our own lock on the workbook's file (WorkbookFlock), held while the document is open.
  void HoldLock(std::shared_ptr<void> lock);

 private:
  void PostHandler(bool request);

  Poster poster_;
  std::mutex mutex_;
  std::function<void()> handler_;
  bool silenced_ = false;
  bool fired_ = false;
  bool requested_ = false;
  std::atomic<bool> closed_{false};
  std::shared_ptr<void> ownLock_;
};

class Batch;

class Session {
 public:
  using Milliseconds = std::chrono::milliseconds;

  // Starts and connects an instance; SpreadsheetError on failure (nothing is left behind).
  explicit Session(const LibreOfficeOptions& options);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Runs `f` (a few UNO calls) under the watchdog: a call that exceeds `limit` (callTimeout by
  // default) ends the office. Every failure leaves as SpreadsheetError naming `what`; once the
  // office is gone or released this throws at once.
  template <class F>
  auto Call(const What& what, F&& f, Milliseconds limit = Milliseconds(0)) -> decltype(f()) {
    CheckUsable(what);
    Scope scope(*this, limit.count() > 0 ? limit : options_.callTimeout);
    try {
      return f();
    } catch (const SpreadsheetError&) {
      throw;
    } catch (...) {
      Fail(what);
    }
  }
  // Throws SpreadsheetError when no call can succeed any more.
  void CheckUsable(const What& what) const;

  // Runs `f`, a call that can take seconds (start-up, loading a document), on a thread of its
  // own while this thread calls the options' whileWaiting every 50 ms; without whileWaiting,
  // here. Its result or exception comes back as if it had run here.
  template <class F>
  auto Waiting(F&& f) -> decltype(f()) {
    if (!options_.whileWaiting) return f();
    auto running = std::async(std::launch::async, std::forward<F>(f));
    while (running.wait_for(Milliseconds(50)) != std::future_status::ready) options_.whileWaiting();
    return running.get();
  }
  // Waits 50 ms, calling whileWaiting first.
  void Pause() const;

  // Closes the documents, quits the office, ends its processes and removes the profile.
  // Idempotent; never throws.
  void Release();

  const LibreOfficeOptions& Options() const { return options_; }
  // The user's locale, for cell texts.
  int32_t Lcid() const { return lcid_; }
  const Reference<css::uno::XComponentContext>& Context() const { return context_; }
  const Reference<css::frame::XDesktop2>& Desktop() const { return desktop_; }
  LibreOfficeInstance Instance() const;
  bool CanShow() const { return canShow_; }
  bool visible = false;
  bool alerts = true;
  // Whether automatic calculation may be on in some document (false only after manual was set).
  bool autoCalculation = true;

  void AddDocument(std::shared_ptr<DocumentState> document);
  // The documents not closed by the user, in the order they were opened.
  std::vector<std::shared_ptr<DocumentState>> Documents() const;
  Batch& GetBatch() { return *batch_; }

  std::string ProfileUrl() const { return process_ ? process_->ProfileUrl() : std::string(); }
  // See OfficeProcess::WatchLockFile.
  void WatchLockFile(const std::string& lockFile) {
    if (process_) process_->WatchLockFile(lockFile);
  }

  // Limit for loading and storing documents.
  Milliseconds DocumentTimeout() const { return options_.callTimeout * 5; }

 private:
  struct Scope {
    Scope(Session& session, Milliseconds limit);
    ~Scope();
    Session& session;
  };
  [[noreturn]] void Fail(const What& what) const;
  void Watch();
  void Connect();
  void CloseEverything();

  LibreOfficeOptions options_;
  int32_t lcid_ = 0;
  bool canShow_ = false;
  std::unique_ptr<OfficeProcess> process_;

  // Watchdog.
  std::mutex watchMutex_;
  std::condition_variable watchWake_;
  int depth_ = 0;
  std::chrono::steady_clock::time_point deadline_;
  Milliseconds limit_{0};
  bool stopWatch_ = false;
  std::atomic<bool> hung_{false};
  std::atomic<int64_t> hungLimitMs_{0};
  std::thread watchdog_;

  // Set by the bridge's disposing notification (office died or connection lost).
  std::shared_ptr<std::atomic<bool>> bridgeGone_;
  std::atomic<bool> released_{false};

  Reference<css::bridge::XBridge> bridge_;
  Reference<css::uno::XComponentContext> context_;
  Reference<css::frame::XDesktop2> desktop_;
  std::vector<std::shared_ptr<DocumentState>> documents_;
  std::unique_ptr<Batch> batch_;
};

}  // namespace velt::lo
