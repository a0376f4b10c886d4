// The wire protocol between libtmconn and the TM server (tmsim): frames, messages, codec.
// Layout and limits are described in tmserver/PROTOCOL.md. Decoded texts are views into the
// frame they came from; encoding appends to a caller-owned buffer so that a client can reuse it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace velt::tmproto {

inline constexpr uint16_t kDefaultPort = 7227;
inline constexpr uint16_t kProtocolVersion = 1;

// A frame is a 4-byte little-endian length followed by that many payload bytes; the payload is
// one type byte and the message body.
inline constexpr size_t kHeaderSize = 4;
inline constexpr uint32_t kMaxPayload = 4096;
// Longest text in any message (bytes, Windows-1251, no NUL).
inline constexpr size_t kMaxText = 1024;
inline constexpr size_t kMaxEnumCount = 255;

// Object class codes of enumeration and name requests.
inline constexpr uint16_t kClassChannel = 0x9000;
inline constexpr uint16_t kClassRtu = 0x9001;
inline constexpr uint16_t kClassStatus = 0x8000;
inline constexpr uint16_t kClassAnalog = 0x8001;
inline constexpr uint16_t kClassAccum = 0x8002;

// The time text of an analog request for the current value (with archive number 0).
inline constexpr char kCurrentTime[] = "N/A";

enum class MsgType : uint8_t {
  // Requests (client to server).
  kHello = 0x01,
  kSystemTime = 0x02,
  kStatus = 0x03,
  kAnalog = 0x04,
  kAccum = 0x05,
  kEnum = 0x06,
  kName = 0x07,
  // Batch extension: one of the requests above, with the caller's identity for its answer.
  kTagged = 0x08,
  // Answers (server to client).
  kWelcome = 0x81,
  kRefused = 0x82,
  kTime = 0x83,
  kStatusValue = 0x84,
  kAnalogValue = 0x85,
  kAccumValue = 0x86,
  kEnumList = 0x87,
  kNameValue = 0x88,
  // Batch extension: the answer to a kTagged request, carrying the same identity.
  kTaggedAnswer = 0x89,
  // Unsolicited text from the server; may come before any answer.
  kMessage = 0x90,
};

struct Hello {
  uint16_t version = kProtocolVersion;
  std::string_view server;
  std::string_view client;
};
struct SystemTimeRequest {};
struct StatusRequest {
  uint16_t ch = 0, rtu = 0, point = 0;
};
struct AnalogRequest {
  uint16_t ch = 0, rtu = 0, point = 0, archive = 0;
  std::string_view time;
};
struct AccumRequest {
  uint16_t ch = 0, rtu = 0, point = 0;
  std::string_view time;
};
struct EnumRequest {
  uint16_t cls = 0;
  uint8_t max = 0;
  uint16_t ch = 0, rtu = 0, point = 0;
};
struct NameRequest {
  uint16_t cls = 0, ch = 0, rtu = 0, point = 0;
};

using Request = std::variant<Hello, SystemTimeRequest, StatusRequest, AnalogRequest, AccumRequest,
                             EnumRequest, NameRequest>;

struct Welcome {
  std::string_view server;
};
struct Refused {
  std::string_view reason;
};
struct TimeAnswer {
  std::string_view text;
};
struct StatusAnswer {
  int16_t value = -1;
};
struct AnalogAnswer {
  bool valid = false;
  float value = 0;
};
struct AccumAnswer {
  bool valid = false;
  float reading = 0;
  float power = 0;
};
struct EnumAnswer {
  uint8_t count = 0;
  std::array<uint16_t, kMaxEnumCount> numbers{};
};
struct NameAnswer {
  bool valid = false;
  std::string_view name;
};
struct ServerMessage {
  std::string_view text;
};

using Answer = std::variant<Welcome, Refused, TimeAnswer, StatusAnswer, AnalogAnswer, AccumAnswer,
                            EnumAnswer, NameAnswer, ServerMessage>;

enum class DecodeError {
  kNone,
  kEmptyFrame,   // length 0: no type byte
  kOversized,    // length above kMaxPayload
  kUnknownType,  // type byte not known, or an answer where a request was expected (or back)
  kTruncated,    // body shorter than its message needs
  kTrailing,     // body longer than its message needs
  kBadText,      // text longer than kMaxText, or holding a NUL byte
  kBadValue,     // a field outside its range (enumeration count, flag byte)
};

const char* DescribeError(DecodeError error);

// Appends one complete frame to out. Returns false, appending nothing, if a text is longer than
// kMaxText or holds a NUL byte, or an enumeration holds more than kMaxEnumCount numbers.
bool Encode(const Request& request, std::string& out);
bool Encode(const Answer& answer, std::string& out);
bool EncodeEnumList(std::span<const uint16_t> numbers, std::string& out);

// Finds the first frame in a byte stream. kFrame: payload views the frame's payload and consumed
// is the frame's whole size. kNeedMore: bytes hold no complete frame yet. kError: the header is
// unacceptable (error says why); the stream cannot be resynchronised.
struct FrameSplit {
  enum Status { kFrame, kNeedMore, kError } status = kNeedMore;
  std::string_view payload;
  size_t consumed = 0;
  DecodeError error = DecodeError::kNone;
};
FrameSplit NextFrame(std::string_view bytes);

// Decode one payload (as found by NextFrame). On error the message is default-constructed.
struct DecodedRequest {
  DecodeError error = DecodeError::kNone;
  Request request;
};
struct DecodedAnswer {
  DecodeError error = DecodeError::kNone;
  Answer answer;
};
DecodedRequest DecodeRequest(std::string_view payload);
DecodedAnswer DecodeAnswer(std::string_view payload);

// Batch extension. A tagged frame's payload is its type (kTagged or kTaggedAnswer), a u32
// identity and the payload of one ordinary request or answer (type byte and body). The ordinary
// decoders do not know the tagged types; split them first.
inline constexpr size_t kTagSize = 4;
bool EncodeTagged(MsgType type, uint32_t id, std::string_view innerPayload, std::string& out);
struct TaggedSplit {
  DecodeError error = DecodeError::kNone;
  uint32_t id = 0;
  std::string_view inner;  // the inner payload, type byte first
};
// Splits a payload of the given tagged type; kUnknownType when it is not one.
TaggedSplit SplitTagged(std::string_view payload, MsgType type);

}  // namespace velt::tmproto
