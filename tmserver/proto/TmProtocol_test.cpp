#include "TmProtocol.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace velt::tmproto {
namespace {

std::string Frame(std::string_view payload) {
  std::string out;
  const auto n = static_cast<uint32_t>(payload.size());
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(n >> (8 * i)));
  out.append(payload);
  return out;
}

std::string_view PayloadOf(const std::string& frame) {
  const FrameSplit split = NextFrame(frame);
  EXPECT_EQ(split.status, FrameSplit::kFrame);
  EXPECT_EQ(split.consumed, frame.size());
  return split.payload;
}

TEST(TmProtocol, RequestsSurviveTheRoundTrip) {
  std::string wire;
  ASSERT_TRUE(Encode(Request{AnalogRequest{1, 2, 3, 2, "01.12.2026 10:00"}}, wire));
  const DecodedRequest d = DecodeRequest(PayloadOf(wire));
  ASSERT_EQ(d.error, DecodeError::kNone);
  const auto& m = std::get<AnalogRequest>(d.request);
  EXPECT_EQ(m.ch, 1);
  EXPECT_EQ(m.rtu, 2);
  EXPECT_EQ(m.point, 3);
  EXPECT_EQ(m.archive, 2);
  EXPECT_EQ(m.time, "01.12.2026 10:00");

  wire.clear();
  ASSERT_TRUE(Encode(Request{EnumRequest{0x9001, 255, 7, 65535, 0}}, wire));
  const auto e = std::get<EnumRequest>(DecodeRequest(PayloadOf(wire)).request);
  EXPECT_EQ(e.cls, 0x9001);
  EXPECT_EQ(e.max, 255);
  EXPECT_EQ(e.ch, 7);
  EXPECT_EQ(e.rtu, 65535);

  wire.clear();
  ASSERT_TRUE(Encode(Request{Hello{1, "TMS", "$Excel$"}}, wire));
  const auto h = std::get<Hello>(DecodeRequest(PayloadOf(wire)).request);
  EXPECT_EQ(h.server, "TMS");
  EXPECT_EQ(h.client, "$Excel$");
}

TEST(TmProtocol, AnswersSurviveTheRoundTrip) {
  std::string wire;
  ASSERT_TRUE(Encode(Answer{StatusAnswer{-1}}, wire));
  EXPECT_EQ(std::get<StatusAnswer>(DecodeAnswer(PayloadOf(wire)).answer).value, -1);

  wire.clear();
  ASSERT_TRUE(Encode(Answer{AccumAnswer{true, 12345.5f, -7.25f}}, wire));
  const auto a = std::get<AccumAnswer>(DecodeAnswer(PayloadOf(wire)).answer);
  EXPECT_TRUE(a.valid);
  EXPECT_EQ(a.reading, 12345.5f);
  EXPECT_EQ(a.power, -7.25f);

  wire.clear();
  const float big = std::numeric_limits<float>::max();
  ASSERT_TRUE(Encode(Answer{AnalogAnswer{true, big}}, wire));
  EXPECT_EQ(std::get<AnalogAnswer>(DecodeAnswer(PayloadOf(wire)).answer).value, big);

  wire.clear();
  std::vector<uint16_t> numbers(255);
  for (size_t i = 0; i < numbers.size(); ++i) numbers[i] = static_cast<uint16_t>(65281 + i);
  ASSERT_TRUE(EncodeEnumList(numbers, wire));
  const auto list = std::get<EnumAnswer>(DecodeAnswer(PayloadOf(wire)).answer);
  ASSERT_EQ(list.count, 255);
  EXPECT_EQ(list.numbers[0], 65281);
  EXPECT_EQ(list.numbers[254], 65535);

  wire.clear();
  ASSERT_TRUE(Encode(Answer{NameAnswer{true, "\xCF\xD1 110"}}, wire));
  EXPECT_EQ(std::get<NameAnswer>(DecodeAnswer(PayloadOf(wire)).answer).name, "\xCF\xD1 110");
}

TEST(TmProtocol, EncoderRefusesWhatTheDecoderWouldRefuse) {
  std::string wire;
  const std::string long_text(kMaxText + 1, 'x');
  EXPECT_FALSE(Encode(Request{AnalogRequest{1, 1, 1, 0, long_text}}, wire));
  EXPECT_FALSE(Encode(Request{AccumRequest{1, 1, 1, std::string_view("a\0b", 3)}}, wire));
  EXPECT_FALSE(EncodeEnumList(std::vector<uint16_t>(256), wire));
  EXPECT_TRUE(wire.empty());
  EXPECT_TRUE(Encode(Request{AnalogRequest{1, 1, 1, 0, std::string(kMaxText, 'x')}}, wire));
}

TEST(TmProtocol, FrameSplitting) {
  struct Case {
    const char* what;
    std::string bytes;
    FrameSplit::Status status;
    DecodeError error;
  };
  const std::string status_frame = Frame(std::string("\x03\x01\x00\x02\x00\x03\x00", 7));
  const Case cases[] = {
      {"nothing", "", FrameSplit::kNeedMore, DecodeError::kNone},
      {"partial header", std::string("\x07\x00", 2), FrameSplit::kNeedMore, DecodeError::kNone},
      {"partial body", status_frame.substr(0, 8), FrameSplit::kNeedMore, DecodeError::kNone},
      {"zero length", std::string(4, '\0'), FrameSplit::kError, DecodeError::kEmptyFrame},
      {"one above the limit", Frame("").replace(0, 4, std::string("\x01\x10\x00\x00", 4)),
       FrameSplit::kError, DecodeError::kOversized},
      {"huge length", "\xFF\xFF\xFF\xFF", FrameSplit::kError, DecodeError::kOversized},
      {"whole frame and more", status_frame + "xyz", FrameSplit::kFrame, DecodeError::kNone},
  };
  for (const Case& c : cases) {
    const FrameSplit split = NextFrame(c.bytes);
    EXPECT_EQ(split.status, c.status) << c.what;
    EXPECT_EQ(split.error, c.error) << c.what;
  }
  EXPECT_EQ(NextFrame(status_frame + "xyz").consumed, status_frame.size());
  std::string at_limit(kMaxPayload, '\0');
  EXPECT_EQ(NextFrame(Frame(at_limit)).status, FrameSplit::kFrame);
}

TEST(TmProtocol, MalformedRequestsAreRefused) {
  struct Case {
    const char* what;
    std::string payload;
    DecodeError error;
  };
  const Case cases[] = {
      {"empty", "", DecodeError::kEmptyFrame},
      {"unknown type", "\x42", DecodeError::kUnknownType},
      {"an answer type", std::string("\x84\x01\x00", 3), DecodeError::kUnknownType},
      {"status cut short", std::string("\x03\x01\x00\x02\x00\x03", 6), DecodeError::kTruncated},
      {"status with a tail", std::string("\x03\x01\x00\x02\x00\x03\x00\x00", 8),
       DecodeError::kTrailing},
      {"time text cut short", std::string("\x04\x01\x00\x01\x00\x01\x00\x00\x00\x05\x00N/A", 13),
       DecodeError::kTruncated},
      {"time text with NUL", std::string("\x04\x01\x00\x01\x00\x01\x00\x00\x00\x03\x00N\0A", 14),
       DecodeError::kBadText},
      {"text length above the limit", std::string("\x05\x01\x00\x01\x00\x01\x00\x01\x04", 9),
       DecodeError::kBadText},
      {"system time with a tail", "\x02x", DecodeError::kTrailing},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeRequest(c.payload).error, c.error) << c.what;
  }
}

TEST(TmProtocol, MalformedAnswersAreRefused) {
  struct Case {
    const char* what;
    std::string payload;
    DecodeError error;
  };
  const Case cases[] = {
      {"a request type", std::string("\x02", 1), DecodeError::kUnknownType},
      {"flag neither 0 nor 1", std::string("\x85\x02\x00\x00\x00\x00", 6), DecodeError::kBadValue},
      {"enum list shorter than its count", std::string("\x87\x03\x01\x00\x02\x00", 6),
       DecodeError::kTruncated},
      {"enum list longer than its count", std::string("\x87\x01\x01\x00\x02\x00", 6),
       DecodeError::kTrailing},
      {"failed name with a text", std::string("\x88\x00\x01\x00x", 5), DecodeError::kBadValue},
      {"accumulator cut short", std::string("\x86\x01\x00\x00\x80\x3F", 6),
       DecodeError::kTruncated},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeAnswer(c.payload).error, c.error) << c.what;
  }
}

}  // namespace
}  // namespace velt::tmproto
