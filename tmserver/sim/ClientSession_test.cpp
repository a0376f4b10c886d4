#include "ClientSession.h"

#include <gtest/gtest.h>

#include "SliceTime.h"
#include "TmProtocol.h"

namespace velt::tmsim {
namespace {

namespace tp = velt::tmproto;

constexpr const char* kDb = R"(
greeting = ["one", "two"]
[[channel]]
number = 1
name = "c1"
  [[channel.rtu]]
  number = 2
    [[channel.rtu.analog]]
    number = 3
    name = "a3"
    value = 7.5
      [[channel.rtu.analog.archive]]
      number = 0
      values = [ { time = "01.12.2026 10:00", value = 1.25 } ]
    [[channel.rtu.accum]]
    number = 1
    reading = 10
    power = 2
)";

class SessionTest : public ::testing::Test {
 protected:
  SessionTest() : db_(LoadDatabase(kDb, "db").value()), session_(db_, "TMS", [] { return now; }) {}

  // Sends one request and returns every answer frame that came back.
  std::vector<tp::Answer> Ask(const tp::Request& request) {
    std::string in;
    EXPECT_TRUE(tp::Encode(request, in));
    return Feed(in);
  }
  std::vector<tp::Answer> Feed(std::string in) {
    out_.clear();
    outcome_ = session_.Feed(in, out_, problem_);
    std::vector<tp::Answer> answers;
    std::string_view rest = out_;
    for (;;) {
      const tp::FrameSplit s = tp::NextFrame(rest);
      if (s.status != tp::FrameSplit::kFrame) break;
      const tp::DecodedAnswer d = tp::DecodeAnswer(s.payload);
      EXPECT_EQ(d.error, tp::DecodeError::kNone);
      answers.push_back(d.answer);
      rest.remove_prefix(s.consumed);
    }
    return answers;
  }
  void Greet() {
    ASSERT_EQ(Ask(tp::Hello{1, "TMS", "$Excel$"}).size(), 3u);
    ASSERT_EQ(outcome_, ClientSession::Outcome::kContinue);
  }

  static inline int64_t now = CivilSeconds(2026, 12, 1, 12, 0, 0);
  Database db_;
  ClientSession session_;
  std::string out_, problem_;
  ClientSession::Outcome outcome_ = ClientSession::Outcome::kContinue;
};

TEST_F(SessionTest, HandshakeSendsTheGreetingBeforeTheWelcome) {
  const auto answers = Ask(tp::Hello{1, "TMS", "$Excel$"});
  ASSERT_EQ(answers.size(), 3u);
  EXPECT_EQ(std::get<tp::ServerMessage>(answers[0]).text, "one");
  EXPECT_EQ(std::get<tp::ServerMessage>(answers[1]).text, "two");
  EXPECT_EQ(std::get<tp::Welcome>(answers[2]).server, "TMS");
  EXPECT_EQ(session_.ClientName(), "$Excel$");
}

TEST_F(SessionTest, WrongServerNameIsRefusedAndClosed) {
  const auto answers = Ask(tp::Hello{1, "tms", "$Excel$"});
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_TRUE(std::holds_alternative<tp::Refused>(answers[0]));
  EXPECT_EQ(outcome_, ClientSession::Outcome::kClose);
  EXPECT_FALSE(session_.Greeted());
}

TEST_F(SessionTest, RequestBeforeHandshakeCloses) {
  EXPECT_TRUE(Ask(tp::StatusRequest{1, 2, 3}).empty());
  EXPECT_EQ(outcome_, ClientSession::Outcome::kClose);
}

TEST_F(SessionTest, GarbageCloses) {
  Greet();
  EXPECT_TRUE(Feed("\xFF\xFF\xFF\x7Fgarbage").empty());
  EXPECT_EQ(outcome_, ClientSession::Outcome::kClose);
  EXPECT_EQ(problem_, "frame too large");
}

TEST_F(SessionTest, TimeTextsSelectCurrentOrArchiveValues) {
  Greet();
  struct Case {
    const char* time;
    uint16_t archive;
    bool valid;
    float value;
  };
  const Case cases[] = {
      {"N/A", 0, true, 7.5f},                // current
      {"N/A", 2, false, 0},                  // N/A only means "current" with archive 0
      {"01.12.2026 10:00", 0, true, 1.25f},  // archive 0 is an archive like any other
      {"01.12.26 10:00", 0, true, 1.25f},
      {"01.12.2026 11:00", 0, false, 0},
      {"", 0, false, 0},
      {"n/a", 0, false, 0},
  };
  for (const Case& c : cases) {
    const auto a = Ask(tp::AnalogRequest{1, 2, 3, c.archive, c.time});
    ASSERT_EQ(a.size(), 1u);
    const auto& v = std::get<tp::AnalogAnswer>(a[0]);
    EXPECT_EQ(v.valid, c.valid) << c.time << " " << c.archive;
    if (c.valid) {
      EXPECT_EQ(v.value, c.value) << c.time;
    }
  }
  const auto current = std::get<tp::AccumAnswer>(Ask(tp::AccumRequest{1, 2, 1, ""})[0]);
  EXPECT_TRUE(current.valid);
  EXPECT_EQ(current.reading, 10.0f);
  EXPECT_EQ(current.power, 2.0f);
  EXPECT_FALSE(std::get<tp::AccumAnswer>(Ask(tp::AccumRequest{1, 2, 1, "N/A"})[0]).valid);
  EXPECT_EQ(std::get<tp::TimeAnswer>(Ask(tp::SystemTimeRequest{})[0]).text, "01.12.2026 12:00:00");
}

TEST_F(SessionTest, EnumerationAndNames) {
  Greet();
  const auto channels = std::get<tp::EnumAnswer>(Ask(tp::EnumRequest{0x9000, 255, 0, 0, 0})[0]);
  ASSERT_EQ(channels.count, 1);
  EXPECT_EQ(channels.numbers[0], 1);
  EXPECT_EQ(std::get<tp::EnumAnswer>(Ask(tp::EnumRequest{0x9001, 255, 1, 3, 0})[0]).count, 0);
  EXPECT_EQ(std::get<tp::EnumAnswer>(Ask(tp::EnumRequest{0x9001, 0, 1, 0, 0})[0]).count, 0);
  EXPECT_EQ(std::get<tp::EnumAnswer>(Ask(tp::EnumRequest{0x8001, 255, 1, 2, 1})[0]).count, 1);
  EXPECT_EQ(std::get<tp::EnumAnswer>(Ask(tp::EnumRequest{0x7777, 255, 1, 2, 1})[0]).count, 0);

  EXPECT_EQ(std::get<tp::NameAnswer>(Ask(tp::NameRequest{0x9000, 1, 0, 0})[0]).name, "c1");
  EXPECT_EQ(std::get<tp::NameAnswer>(Ask(tp::NameRequest{0x8001, 1, 2, 3})[0]).name, "a3");
  EXPECT_FALSE(std::get<tp::NameAnswer>(Ask(tp::NameRequest{0x9001, 1, 2, 0})[0]).valid);
  EXPECT_FALSE(std::get<tp::NameAnswer>(Ask(tp::NameRequest{0x8002, 1, 2, 1})[0]).valid);
}

TEST_F(SessionTest, PipelinedRequestsAreAllAnswered) {
  Greet();
  std::string in;
  tp::Encode(tp::StatusRequest{1, 2, 3}, in);
  tp::Encode(tp::SystemTimeRequest{}, in);
  const std::string whole = in;
  in = whole.substr(0, whole.size() - 1);  // the last frame is not complete yet
  EXPECT_EQ(Feed(in).size(), 1u);
}

}  // namespace
}  // namespace velt::tmsim
