#include "tmaccess.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "Cp1251.h"

namespace velt {
namespace {

using ::testing::ElementsAre;

// A library that writes down every call; results are set per test.
struct Recorder {
  std::vector<std::string> calls;
  uint32_t connect_result = 0;
  int16_t connected_result = 1;
  float analog_result = 0;
  uint32_t accum_result = 0;
  int16_t name_result = 1;
  std::string name_bytes;  // written (cut to size) by getObjectName
  size_t time_fill = 24;   // bytes systemTime writes, NUL included
  TmcMessageCallback callback = nullptr;
  uint32_t link_event = 0;  // told through the link callback by a failing connect, when not 0
  const char* link_detail = "";
};
Recorder rec;

std::string Text(const char* s) {
  return s == nullptr ? "<null>" : "\"" + std::string(s) + "\"";
}
template <class... A>
void Log(const char* fn, A... args) {
  std::string line = fn;
  ((line += " " + std::to_string(args)), ...);
  rec.calls.push_back(line);
}

uint32_t FakeConnect(const char* host, const char* server, const char* client,
                     TmcMessageCallback cb, uint32_t reserved) {
  rec.calls.push_back("connect " + Text(host) + " " + Text(server) + " " + Text(client) + " " +
                      std::to_string(reserved));
  rec.callback = cb;
  if (rec.link_event != 0) TmaLinkCallback(rec.link_event, "h:1\\TMS", rec.link_detail);
  return rec.connect_result;
}
int32_t FakeDisconnect(uint32_t h) {
  Log("disconnect", h);
  return 1;
}
int16_t FakeIsConnected(uint32_t h) {
  Log("isConnected", h);
  return rec.connected_result;
}
int32_t FakeSystemTime(uint32_t h, char* buffer, uint32_t reserved) {
  Log("systemTime", h, reserved);
  std::memset(buffer, 'T', rec.time_fill - 1);
  buffer[rec.time_fill - 1] = '\0';
  return 1;
}
int16_t FakeStatus(uint32_t h, uint16_t ch, uint16_t rtu, uint16_t point) {
  Log("status", h, ch, rtu, point);
  return -1;
}
float FakeAnalog(uint32_t h, uint16_t ch, uint16_t rtu, uint16_t point, const char* time,
                 uint16_t archive) {
  rec.calls.push_back("analog " + std::to_string(h) + " " + std::to_string(ch) + " " +
                      std::to_string(rtu) + " " + std::to_string(point) + " " + Text(time) + " " +
                      std::to_string(archive));
  return rec.analog_result;
}
uint32_t FakeAccumFull(uint32_t h, uint16_t ch, uint16_t rtu, uint16_t point, float* values,
                       const char* time) {
  rec.calls.push_back("accum " + std::to_string(h) + " " + std::to_string(ch) + " " +
                      std::to_string(rtu) + " " + std::to_string(point) + " " + Text(time));
  values[0] = 1.5f;
  values[1] = 2.5f;
  return rec.accum_result;
}
uint32_t FakeEnumObjects(uint32_t h, uint16_t cls, uint8_t max, uint16_t* buffer, uint16_t ch,
                         uint16_t rtu, uint16_t point) {
  Log("enum", h, cls, max, ch, rtu, point);
  buffer[0] = 77;
  return 0x1201;  // high bits are the caller's to ignore, not ours to clear
}
int16_t FakeGetObjectName(uint32_t h, uint16_t cls, uint16_t ch, uint16_t rtu, uint16_t point,
                          char* buffer, uint32_t size) {
  Log("name", h, cls, ch, rtu, point, size);
  if (size > 0) {
    const size_t n = std::min<size_t>(rec.name_bytes.size(), size);
    std::memcpy(buffer, rec.name_bytes.data(), n);  // no NUL when the name fills the buffer
    if (n < size) buffer[n] = '\0';
  }
  return rec.name_result;
}

const TmcFunctions kFake{FakeConnect, FakeDisconnect, FakeIsConnected, FakeSystemTime,   FakeStatus,
                         FakeAnalog,  FakeAccumFull,  FakeEnumObjects, FakeGetObjectName};

class TmAccessTest : public ::testing::Test {
 protected:
  void SetUp() override { rec = Recorder{}; }
  TmAccess tm{kFake};
};

TEST(ParseServerText, EveryFormOfTheServerText) {
  struct Case {
    std::string text;
    TmcConnectArguments want;
  };
  const Case cases[] = {
      {"srv", {"srv", "TMS"}},
      {"  srv \\ main\t", {"srv", "main"}},
      {"x\\y\\z", {"x\\y", "z"}},
      {"", {"", "TMS"}},
      {"srv1{srv2}", {std::nullopt, "srv1\\TMS{srv2\\TMS}"}},
      {"h1\\s1{h2\\s2}x", {std::nullopt, "h1\\s1{h2\\s2}"}},
      {"srv{", {std::nullopt, "srv\\TMS{\\TMS}"}},
      {"{srv2}", {std::nullopt, "\\TMS{srv2\\TMS}"}},
      {" a{b}", {std::nullopt, " a\\TMS{b\\TMS}"}},
      {"a}b{c", {std::nullopt, "a}b\\TMS{\\TMS}"}},  // the first "}" comes before the "{"
      {"a{b}c}", {std::nullopt, "a\\TMS{b\\TMS}"}},
      {"\x01srv:7000\x1F", {"srv:7000", "TMS"}},
      {"сервер\\ТМС", {"сервер", "ТМС"}},  // bytes of Cyrillic letters are never trimmed
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseServerText(c.text), c.want) << '"' << c.text << '"';
  }
}

TEST_F(TmAccessTest, ConnectPassesTheParsedTextsInWindows1251) {
  rec.connect_result = 42;
  rec.time_fill = 81;  // the connect step gives room for 80 characters and the NUL
  EXPECT_EQ(tm.tmaConnect("ПС-сервер\\ТМС", "$Excel$"), 1);
  EXPECT_EQ(tm.Handle(), 42u);
  EXPECT_THAT(rec.calls, ElementsAre("connect \"" + Utf8ToCp1251("ПС-сервер") + "\" \"" +
                                         Utf8ToCp1251("ТМС") + "\" \"$Excel$\" 0",
                                     "systemTime 42 0", "isConnected 42"));
  EXPECT_EQ(rec.callback, &TmaMessageCallback);

  rec.calls.clear();
  EXPECT_EQ(tm.tmaConnect("srv1{srv2}", "$Excel$"), 1);
  EXPECT_EQ(rec.calls[0], "connect <null> \"srv1\\TMS{srv2\\TMS}\" \"$Excel$\" 0");
}

// A failed connect says which server and why (the library's link events of the attempt) and
// keeps the handle the library gave; with 0 no time request or connected check follows, and
// later calls go to the library with handle 0. A disconnect calls the library only when connected.
TEST_F(TmAccessTest, FailedConnectSaysWhyAndKeepsTheHandleDisconnectClearsIt) {
  const struct {
    uint32_t event;
    const char* detail;
    uint32_t handle;
    LinkEventKind kind;
    const char* says;
  } cases[] = {
      {TMC_LINK_REFUSED, "wrong server name", 0, LinkEventKind::kNameRefused,
       "h:1\\TMS: the server refused the connection: \"wrong server name\""},
      {TMC_LINK_NOTHING_LISTENS, "", 0, LinkEventKind::kNothingListens,
       "h:1\\TMS: nothing listens at this address"},
      {TMC_LINK_UNKNOWN_HOST, "Name or service not known", 0, LinkEventKind::kUnknownHost,
       "h:1\\TMS: the host name cannot be resolved (Name or service not known)"},
      {TMC_LINK_NO_ANSWER, "", 0, LinkEventKind::kNoAnswer, "h:1\\TMS: no answer within the time"},
      {0, "", 0, LinkEventKind::kFailed, "h:1"},  // a library that tells no link events
      {0, "", 7, LinkEventKind::kFailed, "h:1"},  // a handle, but the connected flag is 0
  };
  for (const auto& c : cases) {
    rec = Recorder{};
    rec.link_event = c.event;
    rec.link_detail = c.detail;
    rec.connect_result = c.handle;
    rec.connected_result = 0;
    const Result<> connected = tm.Connect("h:1", "$Excel$");
    EXPECT_EQ(connected.error().code, static_cast<int>(c.kind)) << c.says;
    EXPECT_EQ(connected.error().text.rfind(c.says, 0), 0u) << connected.error().text;
    EXPECT_EQ(tm.Handle(), c.handle);
    EXPECT_EQ(rec.calls.size(), c.handle == 0 ? 1u : 3u);
    EXPECT_EQ(tm.tmaConnect("h:1", "$Excel$"), 0);  // the library's flag
  }
  rec.connect_result = 0;
  tm.tmaConnect("srv", "$Excel$");
  rec.calls.clear();
  EXPECT_EQ(tm.tmaStatus(1, 2, 10), -1);
  uint16_t numbers[255];
  tm.tmaEnumObjects(0x9000, 255, numbers, 0, 0, 0);
  EXPECT_THAT(rec.calls, ElementsAre("status 0 1 2 10", "enum 0 36864 255 0 0 0"));
  rec.connect_result = 3;
  rec.connected_result = 1;
  EXPECT_TRUE(tm.Connect("h:1", "$Excel$").ok());
  rec.calls.clear();
  EXPECT_EQ(tm.tmaDisconnect(), 1);
  EXPECT_EQ(tm.tmaDisconnect(), 1);  // no connection: nothing is called
  EXPECT_THAT(rec.calls, ElementsAre("disconnect 3"));
  EXPECT_EQ(tm.Handle(), 0u);
}

TEST_F(TmAccessTest, PassThroughPutsTheHandleFirstAndReturnsResultsUnchanged) {
  rec.connect_result = 5;
  tm.tmaConnect("srv", "$Excel$");
  rec.calls.clear();

  rec.analog_result = std::numeric_limits<float>::max();
  EXPECT_EQ(tm.tmaAnalog(1, 2, 3, "01.12.2026 10:00", 2), rec.analog_result);
  rec.accum_result = 0x10000;  // low 16 bits 0: a failure, passed on as it is
  float values[2];
  EXPECT_EQ(tm.tmaAccumFull(1, 3, 1, values, ""), 0x10000u);
  uint16_t numbers[255];
  EXPECT_EQ(tm.tmaEnumObjects(0x8001, 255, numbers, 1, 2, 256), 0x1201u);
  EXPECT_EQ(numbers[0], 77);
  char time[24];
  EXPECT_EQ(tm.tmaSystemTime(time, 0), 1);
  EXPECT_THAT(rec.calls, ElementsAre("analog 5 1 2 3 \"01.12.2026 10:00\" 2", "accum 5 1 3 1 \"\"",
                                     "enum 5 32769 255 1 2 256", "systemTime 5 0"));
}

TEST_F(TmAccessTest, TimeTextsReachTheLibraryInWindows1251) {
  rec.connect_result = 5;
  tm.tmaConnect("srv", "$Excel$");
  rec.calls.clear();
  float values[2];
  tm.tmaAnalog(1, 2, 3, "вчера", 0);
  tm.tmaAccumFull(1, 2, 3, values, "€ 漢");  // the euro sign exists in Windows-1251
  EXPECT_THAT(rec.calls,
              ElementsAre("analog 5 1 2 3 \"\xE2\xF7\xE5\xF0\xE0\" 0", "accum 5 1 2 3 \"\x88 ?\""));
}

TEST_F(TmAccessTest, ObjectNamesComeBackInUtf8) {
  std::string name = "old";
  rec.name_bytes = Utf8ToCp1251("ПС 110 кВ Заречная");
  EXPECT_EQ(tm.tmaGetObjectName(0x9001, 1, 2, 0, name, 260), 1);
  EXPECT_EQ(name, "ПС 110 кВ Заречная");
  EXPECT_EQ(rec.calls.back(), "name 0 36865 1 2 0 260");

  // A library that fills the buffer without a NUL is read no further than the buffer.
  EXPECT_EQ(tm.tmaGetObjectName(0x9001, 1, 2, 0, name, 4), 1);
  EXPECT_EQ(name, "ПС 1");

  rec.name_result = 0;
  EXPECT_EQ(tm.tmaGetObjectName(0x9001, 1, 2, 0, name, 260), 0);
  EXPECT_EQ(name, "");
  EXPECT_EQ(tm.tmaGetObjectName(0x9001, 1, 2, 0, name, 0), 0);
  EXPECT_EQ(rec.calls.back(), "name 0 36865 1 2 0 0");
}

TEST(ServerMessageBuffer, KeepsAtMost80CharactersAndStopsAtNul) {
  const std::string long_text(100, 'x');
  TmaMessageCallback(100, long_text.c_str(), 0);
  EXPECT_EQ(ServerMessageRaw(), std::string(80, 'x'));

  TmaMessageCallback(5, "connection lost", 0);  // the length counts, not the NUL
  EXPECT_EQ(ServerMessageRaw(), "conne");

  TmaMessageCallback(50, "ab\0cdef", 0);  // nothing past the text's own NUL
  EXPECT_EQ(ServerMessageRaw(), "ab");

  TmaMessageCallback(10, nullptr, 0);
  EXPECT_EQ(ServerMessageRaw(), "");

  const std::string cyr = Utf8ToCp1251("Связь с сервером восстановлена");
  TmaMessageCallback(static_cast<uint32_t>(cyr.size()), cyr.c_str(), 0);
  EXPECT_EQ(ServerMessage(), "Связь с сервером восстановлена");

  std::string heard;
  SetServerMessageListener([&](const std::string& text) { heard = text; });
  TmaMessageCallback(3, cyr.c_str(), 0);
  SetServerMessageListener(nullptr);
  EXPECT_EQ(heard, "Свя");
}

}  // namespace
}  // namespace velt
