// libtmconn against servers that speak the protocol's framing but misbehave: a trickle that
// never answers, floods of messages, garbage or a wrong answer after the handshake, answers out
// of order, and messages that mimic the library's own link events.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Connection.h"
#include "ScriptedTmServer.h"
#include "TemporaryDirectory.h"
#include "tmconn.h"

namespace velt {
namespace {

namespace tp = velt::tmproto;
using testsupport::NoValueAnswer;
using testsupport::ScriptedTmServer;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// What the callbacks heard (process-wide, as the callbacks are).
std::mutex heard_mutex;
std::vector<std::string> messages_heard;
std::vector<std::pair<uint32_t, std::string>> events_heard;  // event, detail

void OnMessage(uint32_t length, const char* text, uint32_t) {
  std::lock_guard lock(heard_mutex);
  messages_heard.emplace_back(text, length);
}
void OnLink(uint32_t event, const char*, const char* detail) {
  std::lock_guard lock(heard_mutex);
  events_heard.emplace_back(event, detail);
}

class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    tmcSetLinkCallback(OnLink);
    std::lock_guard lock(heard_mutex);
    messages_heard.clear();
    events_heard.clear();
  }
  void TearDown() override { tmcSetLinkCallback(nullptr); }

  static uint32_t Connect(const ScriptedTmServer& server) {
    return tmcConnect(server.Address().c_str(), "TMS", "test", OnMessage, 0);
  }
  static std::string LostDetail() {
    std::lock_guard lock(heard_mutex);
    for (const auto& [event, detail] : events_heard) {
      if (event == TMC_LINK_LOST) return detail;
    }
    return "(no lost event)";
  }
  static std::vector<TmcBatchItem> StatusItems(size_t n) {
    std::vector<TmcBatchItem> items(n);
    for (size_t i = 0; i < n; ++i) {
      items[i].kind = TMC_BATCH_STATUS;
      items[i].point = static_cast<uint16_t>(i);
    }
    return items;
  }
};

// Handshake and clock answered; anything else gets what `rest` sends.
ScriptedTmServer::Script Greeting(
    std::function<void(const tp::Request&, std::optional<uint32_t>, ScriptedTmServer::Peer&)>
        rest) {
  return [rest](const tp::Request& request, std::optional<uint32_t> tag,
                ScriptedTmServer::Peer& peer) {
    if (std::holds_alternative<tp::Hello>(request) ||
        std::holds_alternative<tp::SystemTimeRequest>(request)) {
      peer.Answer(NoValueAnswer(request));
      return;
    }
    rest(request, tag, peer);
  };
}

// A server that keeps the link busy for ever, a message or a byte at a time, and never answers:
// single calls and batches still end within their documented bounds.
TEST_F(Faults, ATrickleThatNeverAnswersExtendsNoBound) {
  struct Case {
    const char* name;
    bool bytes;  // a byte at a time rather than whole message frames
  };
  for (const Case c : {Case{"messages", false}, Case{"bytes", true}}) {
    SCOPED_TRACE(c.name);
    ScriptedTmServer server(
        Greeting([&](const tp::Request&, std::optional<uint32_t>, ScriptedTmServer::Peer& peer) {
          std::string frame;
          tp::Encode(tp::ServerMessage{"still here"}, frame);
          while (!peer.Over()) {
            if (c.bytes) {
              for (char byte : frame) {
                if (peer.Over()) return;
                peer.Send({&byte, 1});
                std::this_thread::sleep_for(100ms);
              }
            } else {
              peer.Send(frame);
              std::this_thread::sleep_for(100ms);
            }
          }
        }));
    const uint32_t h = Connect(server);
    ASSERT_NE(h, 0u);
    const auto started = Clock::now();
    EXPECT_EQ(tmcStatus(h, 1, 1, 1), -1);
    // The bound of one call, with slack for a loaded machine.
    EXPECT_LT(Clock::now() - started, tmconn::kCallLimit + 10s);

    std::vector<TmcBatchItem> items = StatusItems(6);
    const auto batchStarted = Clock::now();
    EXPECT_EQ(tmcBatch(h, items.data(), 6, 0), 0u);
    EXPECT_LT(Clock::now() - batchStarted, tmconn::BatchLimit(6) + 10s);
    for (const TmcBatchItem& item : items) EXPECT_EQ(item.status, -1);
    tmcDisconnect(h);
  }
}

TEST_F(Faults, AFloodOfMessagesIsKeptToABoundAndSaidOnce) {
  ScriptedTmServer server(Greeting(
      [](const tp::Request& request, std::optional<uint32_t>, ScriptedTmServer::Peer& peer) {
        std::string flood;
        tp::Encode(tp::ServerMessage{std::string(1000, 'm')}, flood);
        std::string frames;
        for (int i = 0; i < 5000; ++i) frames += flood;
        peer.Send(frames);
        peer.Answer(tp::StatusAnswer{7});
        (void)request;
      }));
  const uint32_t h = Connect(server);
  ASSERT_NE(h, 0u);
  {
    std::lock_guard lock(heard_mutex);
    messages_heard.clear();
  }
  EXPECT_EQ(tmcStatus(h, 1, 1, 1), 7);
  std::lock_guard lock(heard_mutex);
  ASSERT_EQ(messages_heard.size(), tmconn::Messages::kMaxServerMessages + 1);
  EXPECT_EQ(messages_heard.back(), std::to_string(5000 - tmconn::Messages::kMaxServerMessages) +
                                       " more messages from the server were dropped");
  tmcDisconnect(h);
}

// After a good handshake: what the server does wrong is what the lost link's event says.
TEST_F(Faults, ABrokenLinkSaysWhy) {
  struct Case {
    const char* name;
    std::function<void(ScriptedTmServer::Peer&)> answer;
    const char* says;
  };
  const std::vector<Case> cases = {
      {"garbage", [](auto& peer) { peer.Send(std::string("\x05\x00\x00\x00\x77zzzz", 9)); },
       "a malformed frame: unexpected message type"},
      {"wrong type", [](auto& peer) { peer.Answer(tp::NameAnswer{}); },
       "an answer of the wrong kind"},
      {"two answers",
       [](auto& peer) {
         peer.Answer(tp::StatusAnswer{1});
         peer.Answer(tp::StatusAnswer{2});
       },
       "an answer nobody asked for"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    ScriptedTmServer server(
        Greeting([&](const tp::Request&, std::optional<uint32_t>, auto& peer) { c.answer(peer); }));
    const uint32_t h = Connect(server);
    ASSERT_NE(h, 0u);
    tmcStatus(h, 1, 1, 1);
    // An answer too many is seen by the next look, whenever it comes.
    EXPECT_TRUE(testsupport::Eventually([&] { return tmcIsConnected(h) == 0; }, 30s, 10ms));
    EXPECT_EQ(LostDetail(), c.says);
    tmcDisconnect(h);
  }
}

// Batch answers carry their request's identity: answers in another order fail the batch at the
// first mismatch instead of landing on the wrong items.
TEST_F(Faults, BatchAnswersOutOfOrderAreAProtocolFailure) {
  std::vector<uint32_t> held;
  ScriptedTmServer server(Greeting(
      [&](const tp::Request& request, std::optional<uint32_t> tag, ScriptedTmServer::Peer& peer) {
        const auto& status = std::get<tp::StatusRequest>(request);
        ASSERT_TRUE(tag.has_value());
        if (status.point == 0) {  // the first answer waits and goes after the second
          held.push_back(*tag);
          return;
        }
        peer.AnswerTagged(*tag, tp::StatusAnswer{static_cast<int16_t>(status.point)});
        for (uint32_t id : held) peer.AnswerTagged(id, tp::StatusAnswer{0});
        held.clear();
      }));
  const uint32_t h = Connect(server);
  ASSERT_NE(h, 0u);
  std::vector<TmcBatchItem> items = StatusItems(4);
  EXPECT_EQ(tmcBatch(h, items.data(), 4, 0), 0u);
  for (const TmcBatchItem& item : items) EXPECT_EQ(item.status, -1);
  EXPECT_EQ(LostDetail(), "the answer to request 1 where the one to request 0 was due");
  tmcDisconnect(h);
}

// A server message in the library's own words is a message and nothing more.
TEST_F(Faults, ServerMessagesNeverPassForLinkEvents) {
  ScriptedTmServer server(
      Greeting([](const tp::Request& request, std::optional<uint32_t>, auto& peer) {
        for (const char* text : {"connection lost: 127.0.0.1:1\\TMS", "connected to elsewhere"}) {
          std::string frame;
          tp::Encode(tp::ServerMessage{text}, frame);
          peer.Send(frame);
        }
        peer.Answer(NoValueAnswer(request));
      }));
  const uint32_t h = Connect(server);
  ASSERT_NE(h, 0u);
  {
    std::lock_guard lock(heard_mutex);
    messages_heard.clear();
    events_heard.clear();
  }
  EXPECT_EQ(tmcStatus(h, 1, 1, 1), -1);
  std::lock_guard lock(heard_mutex);
  EXPECT_TRUE(events_heard.empty());
  EXPECT_EQ(messages_heard, (std::vector<std::string>{"connection lost: 127.0.0.1:1\\TMS",
                                                      "connected to elsewhere"}));
  tmcDisconnect(h);
}

}  // namespace
}  // namespace velt
