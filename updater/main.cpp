// veltexcel-update: see Updater.h and the README.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <iostream>
#include <mutex>
#include <utility>

#include "LibreOfficeSpreadsheet.h"
#include "Translation.h"
#include "Updater.h"
#include "UserLocale.h"
#include "tmaccess.h"

namespace {

std::atomic<bool> stopRequested{false};
std::atomic<int64_t> stopAt{0};  // steady clock, nanoseconds
int wakePipe[2] = {-1, -1};

// After a stop, the pass under way gets this long to finish; then its requests fail at once, so
// that no server can keep the run from ending.
constexpr std::chrono::seconds kStopGrace{3};

extern "C" void OnStopSignal(int) {
  if (!stopRequested.exchange(true)) {
    stopAt = std::chrono::steady_clock::now().time_since_epoch().count();
  }
  const char byte = 1;
  [[maybe_unused]] auto written = write(wakePipe[1], &byte, 1);
}

void InstallStopHandlers() {
  if (pipe(wakePipe) != 0) return;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A closed terminal or session ends the run the same way: the pass finishes, the office quits
  // and leaves no lock file behind.
  sigaction(SIGHUP, &action, nullptr);
}

bool WaitForStop(int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!stopRequested) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd fd{wakePipe[0], POLLIN, 0};
    const int ready = poll(&fd, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) return stopRequested;
  }
  return true;
}

bool StopGraceOver() {
  if (!stopRequested) return false;
  const std::chrono::steady_clock::duration since(
      std::chrono::steady_clock::now().time_since_epoch().count() - stopAt.load());
  return since >= kStopGrace;
}

// What the connection library reported (link events, server messages), until the run takes it.
std::mutex messagesMutex;
std::vector<velt::LinkEvent> messages;
size_t serverMessagesKept = 0;
size_t serverMessagesDropped = 0;
constexpr size_t kMaxServerMessages = 256;  // between two looks; only --verbose shows them

}  // namespace

int main(int argc, char** argv) {
  const char* const localeDirs[] = {VELT_BUILD_LOCALE_DIR, VELT_SYSTEM_LOCALE_DIR};
  velt::InitTranslation(VELT_TEXT_DOMAIN, localeDirs, 2);
  std::vector<std::string> args(argv + 1, argv + argc);
  auto parsed = velt::ParseUpdaterArguments(args);
  if (auto* outcome = std::get_if<velt::ParseOutcome>(&parsed)) {
    (outcome->exitCode == 0 ? std::cout : std::cerr) << outcome->text;
    return outcome->exitCode;
  }
  const auto& options = std::get<velt::UpdaterOptions>(parsed);

  InstallStopHandlers();

  velt::LibreOfficeOptions office;
  office.headless = true;
  office.keptProfiles = velt::LibreOfficeKeptProfileFolder();
  velt::LibreOfficeLauncher launcher(office);
  velt::TmAccess tm;
  tm.SetGiveUp(StopGraceOver);
  velt::SetServerMessageListener([](const std::string& text) {
    std::lock_guard lock(messagesMutex);
    // The run looks after each pass; a flood over many calls must not pile up meanwhile.
    if (serverMessagesKept >= kMaxServerMessages) {
      ++serverMessagesDropped;
      return;
    }
    ++serverMessagesKept;
    messages.push_back(velt::LinkEvent{velt::LinkEventKind::kOther, {}, text});
  });
  velt::SetLinkEventListener([](const velt::LinkEvent& event) {
    std::lock_guard lock(messagesMutex);
    messages.push_back(event);
  });

  velt::UpdaterContext context{
      .launcher = launcher,
      .tm = tm,
      .connect =
          [&tm](const std::string& server) {
            return (tm.tmaConnect(server, velt::kClientName) & 0xFFFF) != 0;
          },
      .takeLinkEvents =
          [] {
            std::lock_guard lock(messagesMutex);
            if (serverMessagesDropped > 0) {
              messages.push_back(velt::LinkEvent{
                  velt::LinkEventKind::kOther,
                  {},
                  std::to_string(serverMessagesDropped) + " more messages were dropped"});
            }
            serverMessagesKept = serverMessagesDropped = 0;
            return std::exchange(messages, std::vector<velt::LinkEvent>{});
          },
      .disconnect = [&tm] { tm.tmaDisconnect(); },
      .waitForStop = WaitForStop,
      .stopRequested = [] { return stopRequested.load(); },
      .out = std::cout,
      .err = std::cerr,
      .terminal = isatty(STDERR_FILENO) == 1,
      .lcid = velt::UserLocaleId(),
  };
  return velt::RunUpdater(options, context);
}
