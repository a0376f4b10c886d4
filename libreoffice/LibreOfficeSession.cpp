#include "LibreOfficeSession.h"

#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/document/XActionLockable.hpp>
#include <com/sun/star/document/XDocumentEventBroadcaster.hpp>
#include <com/sun/star/document/XDocumentEventListener.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XEventListener.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/exc_hlp.hxx>
#include <cppuhelper/implbase1.hxx>
#include <osl/file.hxx>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "DocumentLock.h"
#include "LibreOfficeBatch.h"
#include "UserLocale.h"

#include "Translation.h"

namespace velt::lo {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string ToUtf8(const rtl::OUString& text) {
  rtl::OString utf8 = rtl::OUStringToOString(text, RTL_TEXTENCODING_UTF8);
  return std::string(utf8.getStr(), static_cast<size_t>(utf8.getLength()));
}

rtl::OUString FromUtf8(const std::string& text) {
  return rtl::OStringToOUString(rtl::OString(text.data(), static_cast<sal_Int32>(text.size())),
                                RTL_TEXTENCODING_UTF8);
}

std::string What::Text() const {
  std::string text = Tr("Cannot {}", {Tr(op)});
  if (row > 0) text += " (" + std::to_string(row) + ", " + std::to_string(column) + ")";
  if (!detail.empty()) text += " " + detail;
  return text;
}

namespace {

std::string Seconds(std::chrono::milliseconds limit) {
  auto ms = limit.count();
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
  std::ostringstream out;
  out << static_cast<double>(ms) / 1000 << " s";
  return out.str();
}

// The process-wide UNO runtime. It is never torn down: unloading UNO at exit while bridges
// may still have threads is not safe.
Reference<css::uno::XComponentContext> LocalContext() {
  static std::once_flag once;
  static css::uno::XComponentContext* context = nullptr;
  static std::string error;
  std::call_once(once, [] {
    // Without it the first remote call crashes inside the C++ bridge.
    setenv("URE_BOOTSTRAP", "vnd.sun.star.pathname:" VELT_URE_FUNDAMENTALRC, 0);
    try {
      Reference<css::uno::XComponentContext> made =
          cppu::defaultBootstrap_InitialComponentContext();
      made->acquire();
      context = made.get();
    } catch (const css::uno::Exception& e) {
      error = ToUtf8(e.Message);
    } catch (const std::exception& e) {
      error = e.what();
    }
  });
  if (!context) {
    throw SpreadsheetError("Cannot start LibreOffice: its UNO runtime cannot be initialised: " +
                           error);
  }
  return context;
}

class BridgeListener : public cppu::WeakImplHelper1<css::lang::XEventListener> {
 public:
  explicit BridgeListener(std::shared_ptr<std::atomic<bool>> gone) : gone_(std::move(gone)) {}
  void SAL_CALL disposing(const css::lang::EventObject&) override { *gone_ = true; }

 private:
  std::shared_ptr<std::atomic<bool>> gone_;
};

// The bridge writes to the office's pipe without MSG_NOSIGNAL: once the office is gone, a write
// raises SIGPIPE, whose default action ends the whole program. The bridge's reader and writer
// threads are made while this is in force and keep SIGPIPE blocked for good; a SIGPIPE raised
// on the calling thread meanwhile is taken off before the mask is restored.
class SigpipeBlocked {
 public:
  SigpipeBlocked() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
  }
  ~SigpipeBlocked() {
    if (!sigismember(&previous_, SIGPIPE)) {
      timespec now{0, 0};
      while (sigtimedwait(&pipe_, nullptr, &now) == SIGPIPE) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  SigpipeBlocked(const SigpipeBlocked&) = delete;
  SigpipeBlocked& operator=(const SigpipeBlocked&) = delete;

 private:
  sigset_t pipe_;
  sigset_t previous_;
};

// The office's messages end in the source position (" at ./sc/source/...:123").
std::string CleanMessage(std::string message) {
  for (const char* marker : {" at ./", " at /"}) {
    auto at = message.find(marker);
    if (at != std::string::npos) message.erase(at);
  }
  while (!message.empty() && (message.back() == ' ' || message.back() == '\n')) message.pop_back();
  return message;
}

}  // namespace

DocumentState::DocumentState(Reference<css::frame::XModel> m, Poster poster)
    : model(std::move(m)), poster_(std::move(poster)) {}

void DocumentState::SetHandler(std::function<void()> handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

void DocumentState::Silence() {
  std::lock_guard lock(mutex_);
  silenced_ = true;
  handler_ = nullptr;
}

namespace {

// Runs `run` on the program's thread through `poster`, or here without one. Runs on the office's
// thread: nothing may escape into the office.
void Post(const Poster& poster, std::function<void()> run) {
  try {
    if (poster) {
      poster(std::move(run));
    } else {
      run();
    }
  } catch (...) {
  }
}

}  // namespace

bool DocumentState::WantsCloseRequests() {
  std::lock_guard lock(mutex_);
  return handler_ && !silenced_ && !closed_;
}

void DocumentState::UserAsksToClose() {
  {
    std::lock_guard lock(mutex_);
    if (silenced_ || closed_ || requested_) return;
    requested_ = true;
  }
  PostHandler(/*request=*/true);
}

void DocumentState::HoldLock(std::shared_ptr<void> lock) {
  std::lock_guard guard(mutex_);
  ownLock_ = std::move(lock);
}

void DocumentState::UserClosed() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    ownLock_.reset();  // the workbook is free for another run now
    if (silenced_ || fired_ || !handler_) return;
    fired_ = true;
  }
  PostHandler(/*request=*/false);
}

// The handler is looked up when it runs: our own release may have come in between, and then
// nothing runs against objects that are gone. A close request is void once the document has
// closed by then.
void DocumentState::PostHandler(bool request) {
  std::weak_ptr<DocumentState> weak = weak_from_this();
  Post(poster_, [weak, request] {
    auto self = weak.lock();
    if (!self) return;
    std::function<void()> handler;
    {
      std::lock_guard lock(self->mutex_);
      if (request) self->requested_ = false;
      if (self->silenced_ || (request && self->closed_)) return;
      handler = self->handler_;
    }
    if (handler) handler();
  });
}

Session::Scope::Scope(Session& s, Milliseconds limit) : session(s) {
  std::lock_guard lock(s.watchMutex_);
  ++s.depth_;
  s.deadline_ = Clock::now() + limit;
  s.limit_ = limit;
}

Session::Scope::~Scope() {
  std::lock_guard lock(session.watchMutex_);
  --session.depth_;
}

Session::Session(const LibreOfficeOptions& options)
    : options_(options), bridgeGone_(std::make_shared<std::atomic<bool>>(false)) {
  lcid_ = options_.lcid != 0 ? options_.lcid : UserLocaleId();
  batch_ = std::make_unique<Batch>(*this);
  LocalContext();
  canShow_ = !options_.headless &&
             WindowSystemPluginInstalled(
                 std::filesystem::path(VELT_URE_FUNDAMENTALRC).parent_path().string()) &&
             DisplayUsable();
  process_ = std::make_unique<OfficeProcess>(options_.soffice, !canShow_, options_.keptProfiles);
  watchdog_ = std::thread([this] { Watch(); });
  try {
    Connect();
  } catch (...) {
    released_ = true;
    {
      std::lock_guard lock(watchMutex_);
      stopWatch_ = true;
    }
    watchWake_.notify_all();
    watchdog_.join();
    if (bridge_.is()) {
      try {
        Reference<css::lang::XComponent>(bridge_, css::uno::UNO_QUERY_THROW)->dispose();
      } catch (...) {
      }
    }
    desktop_.clear();
    context_.clear();
    bridge_.clear();
    // A kept profile the office could not come up with may be damaged: the next start makes it
    // anew.
    if (process_->ProfileKept()) process_->DiscardKeptProfile();
    process_->Stop(0ms);
    throw;
  }
}

Session::~Session() {
  try {
    Release();
  } catch (...) {
  }
}

void Session::Connect() {
  auto local = LocalContext();
  auto deadline = Clock::now() + options_.startTimeout;
  Reference<css::connection::XConnector> connector = css::connection::Connector::create(local);
  Reference<css::bridge::XBridgeFactory2> factory = css::bridge::BridgeFactory::create(local);
  rtl::OUString where = FromUtf8("pipe,name=" + process_->PipeName());
  auto checkTime = [&] {
    if (Clock::now() >= deadline) {
      throw SpreadsheetError(Tr("Cannot start LibreOffice: it did not come up within {}",
                                {Seconds(options_.startTimeout)}));
    }
  };
  for (;;) {
    if (process_->HasExited()) {
      std::string tail = process_->OutputTail();
      throw SpreadsheetError(Tr("Cannot start LibreOffice: \"{}\" quit during start-up ({})",
                                {options_.soffice, process_->ExitText()}) +
                             (tail.empty() ? "" : ": " + tail));
    }
    Reference<css::connection::XConnection> connection;
    try {
      connection = connector->connect(where);
    } catch (const css::connection::NoConnectException&) {
      checkTime();
      Pause();
      continue;
    } catch (const css::uno::Exception& e) {
      throw SpreadsheetError(Tr("Cannot start LibreOffice: {}", {CleanMessage(ToUtf8(e.Message))}));
    }
    auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now());
    bool connected = Call(
        What{"start LibreOffice"},
        [&] {
          Reference<css::bridge::XBridge> bridge;
          {
            SigpipeBlocked blocked;
            bridge = factory->createBridge("", "urp", connection, nullptr);
          }
          // The office answers its first request only once it has come up.
          // The office's end of a new bridge that holds no object yet may end itself before our
          // first request arrives (seen under load): that connection is dropped and another
          // one made.
          Reference<css::uno::XComponentContext> context;
          Reference<css::frame::XDesktop2> desktop;
          try {
            context.set(Waiting([&] { return bridge->getInstance("StarOffice.ComponentContext"); }),
                        css::uno::UNO_QUERY_THROW);
            desktop = css::frame::Desktop::create(context);
          } catch (const css::lang::DisposedException&) {
            Reference<css::lang::XComponent>(bridge, css::uno::UNO_QUERY_THROW)->dispose();
            return false;
          }
          Reference<css::lang::XComponent>(bridge, css::uno::UNO_QUERY_THROW)
              ->addEventListener(new BridgeListener(bridgeGone_));
          bridge_ = bridge;
          context_ = context;
          desktop_ = desktop;
          return true;
        },
        std::max(left, Milliseconds(1000)));
    if (connected) return;
    checkTime();
    Pause();
  }
}

void Session::Pause() const {
  if (options_.whileWaiting) options_.whileWaiting();
  std::this_thread::sleep_for(50ms);
}

void Session::CheckUsable(const What& what) const {
  if (released_) throw SpreadsheetError(what.Text() + ": " + Tr("LibreOffice has been released"));
  if (hung_) {
    throw SpreadsheetError(Tr("LibreOffice did not answer within {} and has been stopped ({})",
                              {Seconds(Milliseconds(hungLimitMs_.load())), what.Text()}));
  }
  if (*bridgeGone_)
    throw SpreadsheetError(what.Text() + ": " + Tr("LibreOffice is no longer running"));
}

void Session::Fail(const What& what) const {
  std::string reason;
  bool disposedBridge = false;
  try {
    throw;
  } catch (const css::uno::Exception& e) {
    css::uno::Any caught = cppu::getCaughtException();
    std::string type = ToUtf8(caught.getValueTypeName());
    if (auto dot = type.rfind('.'); dot != std::string::npos) type.erase(0, dot + 1);
    std::string message = CleanMessage(ToUtf8(e.Message));
    reason = message.empty() ? type : type + ": " + message;
    disposedBridge = caught.getValueTypeName() == "com.sun.star.lang.DisposedException" &&
                     message.find("URP bridge") != std::string::npos;
  } catch (const std::exception& e) {
    reason = e.what();
  } catch (...) {
    reason = "unknown failure";
  }
  if (hung_ || released_ || *bridgeGone_) CheckUsable(what);
  if (disposedBridge) {
    *bridgeGone_ = true;
    CheckUsable(what);
  }
  throw SpreadsheetError(what.Text() + ": " + reason);
}

void Session::Watch() {
  std::unique_lock lock(watchMutex_);
  while (!stopWatch_) {
    // Polling keeps the calls cheap: they never have to wake this thread.
    watchWake_.wait_for(lock, 100ms);
    if (stopWatch_) break;
    if (depth_ > 0 && !hung_ && Clock::now() >= deadline_) {
      hungLimitMs_ = limit_.count();
      hung_ = true;
      lock.unlock();
      // The blocked call returns (DisposedException) once the connection breaks.
      process_->Signal(SIGKILL);
      lock.lock();
    }
  }
}

LibreOfficeInstance Session::Instance() const {
  LibreOfficeInstance instance;
  instance.processGroup = process_->Pid();
  instance.profileDir = process_->ProfileDir();
  instance.pipeName = process_->PipeName();
  instance.canShow = canShow_;
  instance.socketFiles = process_->SocketFiles();
  return instance;
}

void Session::AddDocument(std::shared_ptr<DocumentState> document) {
  documents_.push_back(std::move(document));
}

std::vector<std::shared_ptr<DocumentState>> Session::Documents() const {
  std::vector<std::shared_ptr<DocumentState>> open;
  for (auto& d : documents_) {
    if (!d->Closed()) open.push_back(d);
  }
  return open;
}

void Session::CloseEverything() {
  Milliseconds limit = std::min(options_.callTimeout, Milliseconds(5000));
  auto usable = [this] { return !hung_ && !*bridgeGone_; };
  for (auto& d : documents_) {
    if (!usable()) return;
    try {
      Call(
          What{"close the workbook"},
          [&] {
            if (d->listener.is()) {
              Reference<css::document::XDocumentEventBroadcaster> broadcaster(d->model,
                                                                              css::uno::UNO_QUERY);
              if (broadcaster.is()) {
                broadcaster->removeDocumentEventListener(
                    Reference<css::document::XDocumentEventListener>(d->listener,
                                                                     css::uno::UNO_QUERY));
              }
            }
            Reference<css::util::XModifiable> modifiable(d->model, css::uno::UNO_QUERY);
            if (modifiable.is()) modifiable->setModified(false);
            Reference<css::util::XCloseable> closeable(d->model, css::uno::UNO_QUERY);
            if (closeable.is()) closeable->close(true);
          },
          limit);
    } catch (const SpreadsheetError&) {
      // Closed by the user already, or vetoed: terminate below deals with what is left.
    }
  }
  // Documents the user opened in the visible window: a modified one would make terminate()
  // ask whether to save it, and wait for the answer.
  if (!usable()) return;
  try {
    Call(
        What{"close the remaining documents"},
        [&] {
          Reference<css::container::XEnumeration> components =
              desktop_->getComponents()->createEnumeration();
          while (components->hasMoreElements()) {
            try {
              Reference<css::uno::XInterface> component(components->nextElement(),
                                                        css::uno::UNO_QUERY);
              Reference<css::util::XModifiable> modifiable(component, css::uno::UNO_QUERY);
              if (modifiable.is()) modifiable->setModified(false);
              Reference<css::util::XCloseable> closeable(component, css::uno::UNO_QUERY);
              if (closeable.is()) closeable->close(true);
            } catch (const css::lang::DisposedException& e) {
              if (ToUtf8(e.Message).find("URP bridge") != std::string::npos) throw;
            } catch (const css::uno::RuntimeException&) {
              throw;
            } catch (const css::uno::Exception&) {
            }
          }
        },
        limit);
  } catch (const SpreadsheetError&) {
  }
}

void Session::Release() {
  if (released_) return;
  for (auto& d : documents_) d->Silence();
  batch_->Discard();

  bool quitAsked = false;
  if (!hung_ && !*bridgeGone_ && desktop_.is()) {
    CloseEverything();
    if (!hung_ && !*bridgeGone_) {
      try {
        quitAsked = Call(
            What{"quit LibreOffice"},
            [&] {
              try {
                return static_cast<bool>(desktop_->terminate());
              } catch (const css::lang::DisposedException&) {
                return true;  // it quit before it could answer
              }
            },
            std::min(options_.callTimeout, Milliseconds(5000)));
      } catch (const SpreadsheetError&) {
      }
    }
  }
  released_ = true;

  if (bridge_.is()) {
    try {
      Reference<css::lang::XComponent>(bridge_, css::uno::UNO_QUERY_THROW)->dispose();
    } catch (...) {
    }
  }
  {
    std::lock_guard lock(watchMutex_);
    stopWatch_ = true;
  }
  watchWake_.notify_all();
  if (watchdog_.joinable()) watchdog_.join();

  process_->Stop(quitAsked ? 5000ms : 0ms);
  {
    // A killed office leaves its lock files beside the workbooks; they would make every later
    // open of those files fail. With the office gone, a lock naming its profile is stale.
    for (auto& d : documents_) {
      if (d->location.empty()) continue;
      rtl::OUString systemPath;
      if (osl::FileBase::getSystemPathFromFileURL(FromUtf8(d->location), systemPath) !=
          osl::FileBase::E_None) {
        continue;
      }
      const std::filesystem::path lock = LockFileFor(ToUtf8(systemPath));
      std::ifstream in(lock);
      std::stringstream content;
      content << in.rdbuf();
      if (content.str().find(process_->ProfileUrl() + ";") != std::string::npos) {
        std::error_code ec;
        std::filesystem::remove(lock, ec);
      }
    }
  }
  for (auto& d : documents_) {
    d->model.clear();
    d->listener.clear();
  }
  desktop_.clear();
  context_.clear();
  bridge_.clear();
}

}  // namespace velt::lo
