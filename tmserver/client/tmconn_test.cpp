// libtmconn against a real tmsim on a loopback port.
#include "tmconn.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <numbers>
#include <thread>

#include "Cp1251.h"
#include "TemporaryDirectory.h"
#include "TmsimProcess.h"

namespace velt {
namespace {

using namespace std::chrono_literals;
using ::testing::Contains;
using ::testing::HasSubstr;

std::mutex messages_mutex;
std::vector<std::string> messages;

void Collect(uint32_t length, const char* text, uint32_t) {
  std::lock_guard lock(messages_mutex);
  messages.emplace_back(text, length);
}

std::vector<std::string> TakeMessages() {
  std::lock_guard lock(messages_mutex);
  return std::exchange(messages, {});
}

std::string Cp(const char* utf8) {
  return Utf8ToCp1251(utf8);
}

// A directory of database files that goes away with the test.
class TempDir {
 public:
  std::string Write(const std::string& name, const std::string& text) const {
    const std::string file = dir_.File(name);
    std::ofstream(file) << text;
    return file;
  }

 private:
  testsupport::TemporaryDirectory dir_{"tmconn-test"};
};

class Client {
 public:
  explicit Client(const TmsimProcess& sim, const char* server = "TMS")
      : handle(tmcConnect(sim.Address().c_str(), server, "$Excel$", Collect, 0)) {}
  ~Client() { tmcDisconnect(handle); }
  uint32_t handle;
};

float AnalogAt(uint32_t h, uint16_t ch, uint16_t rtu, uint16_t point, const char* time,
               uint16_t archive) {
  return tmcAnalog(h, ch, rtu, point, time, archive);
}

std::vector<uint16_t> EnumerateAll(uint32_t h, uint16_t cls, uint16_t ch, uint16_t rtu,
                                   int* requests = nullptr) {
  std::vector<uint16_t> all;
  uint16_t start = 1;
  for (;;) {
    uint16_t buffer[255];
    const bool rtus = cls == 0x9001;
    const uint32_t n =
        tmcEnumObjects(h, cls, 255, buffer, ch, rtus ? start : rtu, rtus ? 0 : start) & 0xFF;
    if (requests != nullptr) ++*requests;
    all.insert(all.end(), buffer, buffer + n);
    if (n < 255) return all;
    start = static_cast<uint16_t>(buffer[254] + 1);
  }
}

TEST(Tmconn, ConnectsOnlyUnderTheServersName) {
  TmsimProcess sim;
  TakeMessages();
  {
    Client right(sim);
    ASSERT_NE(right.handle, 0u);
    EXPECT_EQ(tmcIsConnected(right.handle), 1);
    const auto said = TakeMessages();
    ASSERT_EQ(said.size(), 2u);
    EXPECT_EQ(said[0], Cp("Сервер ТМ «ВЕЛТ» (симулятор): демонстрационная база данных"));
    EXPECT_EQ(said[1], "connected to " + sim.Address() + "\\TMS");
  }
  Client wrong(sim, "TMS2");
  EXPECT_EQ(wrong.handle, 0u);
  EXPECT_THAT(TakeMessages(), Contains(HasSubstr("refused the connection: wrong server name")));
  EXPECT_EQ(
      tmcConnect(("127.0.0.1:" + std::to_string(sim.Port() ^ 1)).c_str(), "TMS", "x", nullptr, 0),
      0u);
}

TEST(Tmconn, EveryOperationAgainstTheDemoDatabase) {
  TmsimProcess sim;
  Client c(sim);
  ASSERT_NE(c.handle, 0u);
  const uint32_t h = c.handle;

  EXPECT_EQ(tmcStatus(h, 1, 2, 10), 9);
  EXPECT_EQ(tmcStatus(h, 1, 2, 2), 0);
  EXPECT_EQ(tmcStatus(h, 1, 2, 11), -1);  // point without a value
  EXPECT_EQ(tmcStatus(h, 1, 2, 99), -1);  // no such point

  EXPECT_FLOAT_EQ(tmcAnalog(h, 1, 3, 1, "N/A", 0), 36.4f);
  EXPECT_GT(tmcAnalog(h, 1, 2, 6, "N/A", 0), 3.2e38f);
  // Archive 2 of #TT1:2:3: the generator at the slice, explicit values, a gap.
  const auto generated =
      static_cast<float>(180.0 + 60.0 * std::sin(2 * std::numbers::pi * (10.0 - 6.0) / 24.0));
  EXPECT_FLOAT_EQ(AnalogAt(h, 1, 2, 3, "01.12.2026 10:00", 2), generated);
  EXPECT_FLOAT_EQ(AnalogAt(h, 1, 2, 3, "01.12.26 10:00", 2), generated);
  EXPECT_FLOAT_EQ(AnalogAt(h, 1, 2, 3, "2026-12-01 10:00:00", 2), generated);
  EXPECT_FLOAT_EQ(AnalogAt(h, 1, 2, 3, "12/01/26 10:00 AM", 2), generated);
  EXPECT_FLOAT_EQ(AnalogAt(h, 1, 2, 3, "01.12.2026 12:00", 2), 241.5f);
  EXPECT_GT(AnalogAt(h, 1, 2, 3, "01.12.2026 13:00", 2), 3.2e38f);
  EXPECT_GT(AnalogAt(h, 1, 2, 3, "01.12.2026 10:30", 2), 3.2e38f);  // between slices
  EXPECT_GT(AnalogAt(h, 1, 2, 3, "01.12.2026 10:00", 7), 3.2e38f);  // no such archive
  EXPECT_GT(AnalogAt(h, 1, 2, 3, "вчера", 2), 3.2e38f);
  EXPECT_FLOAT_EQ(AnalogAt(h, 1, 2, 3, "01.12.2026 13:00", 3), 240.0f);  // third step of four

  float values[2] = {-1, -1};
  EXPECT_NE(tmcAccumFull(h, 1, 3, 1, values, "") & 0xFFFF, 0u);
  EXPECT_GE(values[1], 700.0f);
  EXPECT_LE(values[1], 1000.0f);
  ASSERT_NE(tmcAccumFull(h, 1, 3, 1, values, "01.12.2026 09:00") & 0xFFFF, 0u);
  EXPECT_FLOAT_EQ(values[0], 1531070.0f);
  EXPECT_FLOAT_EQ(values[1], 880.0f);
  ASSERT_NE(tmcAccumFull(h, 1, 3, 1, values, "01.12.2026 10:00") & 0xFFFF, 0u);
  EXPECT_FLOAT_EQ(values[0], 1523400.0f + 850.0f * 10);
  EXPECT_FLOAT_EQ(values[1],
                  static_cast<float>(850.0 + 150.0 * std::sin(2 * std::numbers::pi * 4 / 24)));
  values[0] = values[1] = -1;
  EXPECT_EQ(tmcAccumFull(h, 1, 3, 3, values, "") & 0xFFFF, 0u);  // meter without a value
  EXPECT_EQ(values[0], -1.0f);

  char time[24];
  EXPECT_EQ(tmcSystemTime(h, time, 0), 1);
  EXPECT_THAT(std::string(time),
              ::testing::MatchesRegex("[0-9][0-9]\\.[0-9][0-9]\\.[0-9]+ [0-9:]+"));

  EXPECT_EQ(EnumerateAll(h, 0x9000, 0, 0), (std::vector<uint16_t>{1, 2, 5}));
  EXPECT_EQ(EnumerateAll(h, 0x9001, 1, 0), (std::vector<uint16_t>{1, 2, 3}));
  EXPECT_EQ(EnumerateAll(h, 0x8000, 1, 2).size(), 11u);
  EXPECT_EQ(EnumerateAll(h, 0x8001, 1, 2), (std::vector<uint16_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(EnumerateAll(h, 0x8002, 1, 3), (std::vector<uint16_t>{1, 2, 3}));
  uint16_t from3[255];
  EXPECT_EQ(tmcEnumObjects(h, 0x8000, 255, from3, 1, 2, 9) & 0xFF, 3u);  // 9, 10, 11
  EXPECT_EQ(from3[0], 9);

  char name[260];
  ASSERT_EQ(tmcGetObjectName(h, 0x9001, 1, 2, 0, name, sizeof name), 1);
  EXPECT_EQ(std::string(name), Cp("ПС 110 кВ Заречная"));
  ASSERT_EQ(tmcGetObjectName(h, 0x8001, 1, 2, 3, name, sizeof name), 1);
  EXPECT_EQ(std::string(name), Cp("Ток ввода Т1 110 кВ, А"));
  ASSERT_EQ(tmcGetObjectName(h, 0x9000, 5, 0, 0, name, 6), 1);  // cut to the buffer
  EXPECT_EQ(std::string(name), Cp("Котел"));
  EXPECT_EQ(tmcGetObjectName(h, 0x8002, 1, 2, 1, name, sizeof name), 0);
}

TEST(Tmconn, BadArgumentsFailWithoutTouchingMemory) {
  TmsimProcess sim;
  Client c(sim);
  ASSERT_NE(c.handle, 0u);
  for (const uint32_t h : {0u, c.handle + 1000}) {
    char buffer[32];
    std::memset(buffer, 'x', sizeof buffer);
    uint16_t numbers[4] = {7, 7, 7, 7};
    float values[2] = {5, 5};
    EXPECT_EQ(tmcIsConnected(h), 0);
    EXPECT_EQ(tmcStatus(h, 1, 2, 10), -1);
    EXPECT_GT(tmcAnalog(h, 1, 3, 1, "N/A", 0), 3.2e38f);
    EXPECT_EQ(tmcAccumFull(h, 1, 3, 1, values, "") & 0xFFFF, 0u);
    EXPECT_EQ(tmcEnumObjects(h, 0x9000, 4, numbers, 0, 0, 0) & 0xFF, 0u);
    EXPECT_EQ(tmcGetObjectName(h, 0x9000, 1, 0, 0, buffer, sizeof buffer), 0);
    EXPECT_EQ(tmcSystemTime(h, buffer, 0), 0);
    EXPECT_EQ(tmcDisconnect(h), 0);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, 'x'));
    EXPECT_EQ(numbers[0], 7);
    EXPECT_EQ(values[0], 5.0f);
  }
  char buffer[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(tmcGetObjectName(c.handle, 0x9000, 1, 0, 0, nullptr, 260), 0);
  EXPECT_EQ(tmcGetObjectName(c.handle, 0x9000, 1, 0, 0, buffer, 0), 0);
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_EQ(tmcEnumObjects(c.handle, 0x9000, 255, nullptr, 0, 0, 0), 0u);
  EXPECT_EQ(tmcAccumFull(c.handle, 1, 3, 1, nullptr, ""), 0u);
  EXPECT_GT(tmcAnalog(c.handle, 1, 3, 1, nullptr, 0), 3.2e38f);
  EXPECT_EQ(tmcSystemTime(c.handle, nullptr, 0), 0);
  // A time text longer than a frame may carry fails this request only.
  EXPECT_GT(tmcAnalog(c.handle, 1, 3, 1, std::string(5000, '1').c_str(), 0), 3.2e38f);
  EXPECT_FLOAT_EQ(tmcAnalog(c.handle, 1, 3, 1, "N/A", 0), 36.4f);
  EXPECT_EQ(tmcConnect(nullptr, nullptr, "x", nullptr, 0), 0u);
}

TEST(Tmconn, BatchesOf255And256Rtus) {
  TempDir dir;
  std::string db;
  for (int ch = 1; ch <= 2; ++ch) {
    db += "[[channel]]\nnumber = " + std::to_string(ch) + "\n";
    const int rtus = ch == 1 ? 255 : 256;
    for (int r = 0; r < rtus; ++r) {
      db += "[[channel.rtu]]\nnumber = " + std::to_string(1000 + r * 3) + "\n";
    }
  }
  TmsimProcess sim(TmsimOptions{dir.Write("batches.toml", db), "TMS", {}, ""});
  Client c(sim);
  ASSERT_NE(c.handle, 0u);
  int requests = 0;
  const auto exactly = EnumerateAll(c.handle, 0x9001, 1, 0, &requests);
  EXPECT_EQ(exactly.size(), 255u);
  EXPECT_EQ(requests, 2);  // a full batch asks again from the last + 1 and gets nothing
  requests = 0;
  const auto one_more = EnumerateAll(c.handle, 0x9001, 2, 0, &requests);
  ASSERT_EQ(one_more.size(), 256u);
  EXPECT_EQ(requests, 2);
  EXPECT_EQ(one_more.back(), 1000 + 255 * 3);
  EXPECT_TRUE(std::is_sorted(one_more.begin(), one_more.end()));
}

TEST(Tmconn, ServerKilledWhileAClientWaits) {
  TmsimProcess sim;
  Client c(sim);
  ASSERT_NE(c.handle, 0u);
  TakeMessages();

  // Frozen: the request gives up at its time limit.
  sim.Freeze();
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_GT(tmcAnalog(c.handle, 1, 3, 1, "N/A", 0), 3.2e38f);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
  EXPECT_EQ(tmcIsConnected(c.handle), 0);

  // Killed while the next request waits for its answer: the call returns, it does not hang.
  auto waiting = std::async(std::launch::async, [&] { return tmcStatus(c.handle, 1, 2, 10); });
  std::this_thread::sleep_for(300ms);
  sim.Kill();
  ASSERT_EQ(waiting.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(waiting.get(), -1);
  EXPECT_EQ(tmcIsConnected(c.handle), 0);

  sim.Restart();
  int16_t status = -1;
  for (auto until = std::chrono::steady_clock::now() + 10s;
       status == -1 && std::chrono::steady_clock::now() < until;) {
    status = tmcStatus(c.handle, 1, 2, 10);
    if (status == -1) std::this_thread::sleep_for(100ms);
  }
  EXPECT_EQ(status, 9);
  EXPECT_EQ(tmcIsConnected(c.handle), 1);
  const auto said = TakeMessages();
  EXPECT_THAT(said, Contains("connection lost: " + sim.Address() + "\\TMS"));
  EXPECT_THAT(said, Contains("connected to " + sim.Address() + "\\TMS"));
}

TEST(Tmconn, GarbageAndSilenceHurtNoOtherClient) {
  TmsimProcess sim;
  auto raw = [&] {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(sim.Port());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return fd;
  };
  const int silent = raw();  // connects and never says a word
  Client c(sim);
  ASSERT_NE(c.handle, 0u);
  for (const std::string& garbage :
       {std::string("GET / HTTP/1.0\r\n\r\n"), std::string("\xFF\xFF\xFF\xFF", 4),
        std::string("\x03\x00\x00\x00\x7F\x01\x02", 7), std::string("\x00\x00\x00\x00", 4)}) {
    const int fd = raw();
    ASSERT_EQ(send(fd, garbage.data(), garbage.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(garbage.size()));
    char byte;
    EXPECT_EQ(recv(fd, &byte, 1, 0), 0);  // the server hung up on it
    close(fd);
    EXPECT_EQ(tmcStatus(c.handle, 1, 2, 10), 9);
  }
  close(silent);
}

TEST(Tmconn, PairFailsOverToTheOtherServer) {
  TempDir dir;
  auto db = [&](const char* file, double value) {
    return dir.Write(file,
                     "[[channel]]\nnumber = 1\n[[channel.rtu]]\nnumber = 1\n"
                     "[[channel.rtu.analog]]\nnumber = 1\nvalue = " +
                         std::to_string(value) + "\n");
  };
  TmsimProcess a(TmsimOptions{db("a.toml", 1.0), "A", {}, ""});
  TmsimProcess b(TmsimOptions{db("b.toml", 2.0), "B", {}, ""});
  const std::string pair = a.Address() + "\\A{" + b.Address() + "\\B}";
  TakeMessages();
  const uint32_t h = tmcConnect(nullptr, pair.c_str(), "$Excel$", Collect, 0);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(tmcAnalog(h, 1, 1, 1, "N/A", 0), 1.0f);

  a.Kill();
  EXPECT_EQ(tmcAnalog(h, 1, 1, 1, "N/A", 0), 2.0f);  // within the same call
  EXPECT_EQ(tmcIsConnected(h), 1);
  const auto said = TakeMessages();
  EXPECT_THAT(said, Contains("connection lost: " + a.Address() + "\\A"));
  EXPECT_THAT(said, Contains("connected to " + b.Address() + "\\B"));

  a.Restart();
  b.Kill();
  EXPECT_EQ(tmcAnalog(h, 1, 1, 1, "N/A", 0), 1.0f);
  tmcDisconnect(h);

  // The first server down at connect time: the second one answers.
  a.Stop();
  b.Restart();
  const uint32_t h2 = tmcConnect(nullptr, pair.c_str(), "$Excel$", Collect, 0);
  ASSERT_NE(h2, 0u);
  EXPECT_EQ(tmcAnalog(h2, 1, 1, 1, "N/A", 0), 2.0f);
  tmcDisconnect(h2);
}

TEST(Tmconn, HundredClientsAtOnce) {
  TmsimProcess sim;
  constexpr int kClients = 100;
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  std::atomic<bool> go{false};
  for (int i = 0; i < kClients; ++i) {
    threads.emplace_back([&] {
      const uint32_t h = tmcConnect(sim.Address().c_str(), "TMS", "load", nullptr, 0);
      while (!go) std::this_thread::yield();
      bool ok = h != 0;
      for (int k = 0; k < 20 && ok; ++k) {
        ok = tmcStatus(h, 1, 2, 10) == 9 && tmcAnalog(h, 1, 3, 1, "N/A", 0) == 36.4f;
      }
      if (ok) ++good;
      tmcDisconnect(h);
    });
  }
  go = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(good, kClients);
}

TEST(Tmconn, OneHandleSharedByThreads) {
  TmsimProcess sim;
  Client c(sim);
  ASSERT_NE(c.handle, 0u);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      for (int k = 0; k < 200; ++k) {
        if (i % 2 == 0 ? tmcStatus(c.handle, 1, 2, 10) != 9
                       : tmcAnalog(c.handle, 1, 3, 1, "N/A", 0) != 36.4f) {
          ++wrong;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace velt
