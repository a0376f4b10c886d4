#include "TmProtocol.h"

#include <bit>
#include <cstring>
#include <type_traits>

// GCC 12 takes the padding of a message struct copied into its variant for an uninitialised read.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace velt::tmproto {
namespace {

bool TextOk(std::string_view text) {
  return text.size() <= kMaxText && text.find('\0') == std::string_view::npos;
}

// Builds one frame at the end of out; the length is patched in by Finish.
class Writer {
 public:
  Writer(std::string& out, MsgType type) : out_(out), start_(out.size()) {
    out_.append(kHeaderSize, '\0');
    U8(static_cast<uint8_t>(type));
  }
  void U8(uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void U16(uint16_t v) {
    U8(static_cast<uint8_t>(v));
    U8(static_cast<uint8_t>(v >> 8));
  }
  void U32(uint32_t v) {
    U16(static_cast<uint16_t>(v));
    U16(static_cast<uint16_t>(v >> 16));
  }
  void F32(float v) { U32(std::bit_cast<uint32_t>(v)); }
  void Text(std::string_view text) {
    U16(static_cast<uint16_t>(text.size()));
    out_.append(text);
  }
  void Finish() {
    const auto length = static_cast<uint32_t>(out_.size() - start_ - kHeaderSize);
    for (size_t i = 0; i < kHeaderSize; ++i) {
      out_[start_ + i] = static_cast<char>(length >> (8 * i));
    }
  }

 private:
  std::string& out_;
  size_t start_;
};

// Reads the body of one payload; the first failure sticks.
class Reader {
 public:
  explicit Reader(std::string_view body) : body_(body) {}
  uint8_t U8() {
    if (!Need(1)) return 0;
    return static_cast<uint8_t>(body_[pos_++]);
  }
  uint16_t U16() {
    const uint16_t lo = U8();
    const uint16_t hi = U8();
    return static_cast<uint16_t>(lo | (hi << 8));
  }
  uint32_t U32() {
    const uint32_t lo = U16();
    const uint32_t hi = U16();
    return lo | (hi << 16);
  }
  float F32() { return std::bit_cast<float>(U32()); }
  bool Flag() {
    const uint8_t v = U8();
    if (v > 1) Fail(DecodeError::kBadValue);
    return v == 1;
  }
  std::string_view Text() {
    const uint16_t size = U16();
    if (error_ != DecodeError::kNone) return {};
    if (size > kMaxText) {
      Fail(DecodeError::kBadText);
      return {};
    }
    if (!Need(size)) return {};
    std::string_view text = body_.substr(pos_, size);
    pos_ += size;
    if (text.find('\0') != std::string_view::npos) Fail(DecodeError::kBadText);
    return text;
  }
  void Fail(DecodeError error) {
    if (error_ == DecodeError::kNone) error_ = error;
  }
  // The error after the whole body should have been read.
  DecodeError End() {
    if (error_ == DecodeError::kNone && pos_ != body_.size()) error_ = DecodeError::kTrailing;
    return error_;
  }

 private:
  bool Need(size_t n) {
    if (error_ != DecodeError::kNone) return false;
    if (body_.size() - pos_ < n) {
      error_ = DecodeError::kTruncated;
      return false;
    }
    return true;
  }

  std::string_view body_;
  size_t pos_ = 0;
  DecodeError error_ = DecodeError::kNone;
};

template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;  // clang 14 does not deduce aggregates yet

}  // namespace

const char* DescribeError(DecodeError error) {
  switch (error) {
    case DecodeError::kNone:
      return "no error";
    case DecodeError::kEmptyFrame:
      return "empty frame";
    case DecodeError::kOversized:
      return "frame too large";
    case DecodeError::kUnknownType:
      return "unexpected message type";
    case DecodeError::kTruncated:
      return "truncated message";
    case DecodeError::kTrailing:
      return "trailing bytes after message";
    case DecodeError::kBadText:
      return "bad text field";
    case DecodeError::kBadValue:
      return "field out of range";
  }
  return "unknown error";
}

bool Encode(const Request& request, std::string& out) {
  return std::visit(Overloaded{
                        [&](const Hello& m) {
                          if (!TextOk(m.server) || !TextOk(m.client)) return false;
                          Writer w(out, MsgType::kHello);
                          w.U16(m.version);
                          w.Text(m.server);
                          w.Text(m.client);
                          w.Finish();
                          return true;
                        },
                        [&](const SystemTimeRequest&) {
                          Writer w(out, MsgType::kSystemTime);
                          w.Finish();
                          return true;
                        },
                        [&](const StatusRequest& m) {
                          Writer w(out, MsgType::kStatus);
                          w.U16(m.ch);
                          w.U16(m.rtu);
                          w.U16(m.point);
                          w.Finish();
                          return true;
                        },
                        [&](const AnalogRequest& m) {
                          if (!TextOk(m.time)) return false;
                          Writer w(out, MsgType::kAnalog);
                          w.U16(m.ch);
                          w.U16(m.rtu);
                          w.U16(m.point);
                          w.U16(m.archive);
                          w.Text(m.time);
                          w.Finish();
                          return true;
                        },
                        [&](const AccumRequest& m) {
                          if (!TextOk(m.time)) return false;
                          Writer w(out, MsgType::kAccum);
                          w.U16(m.ch);
                          w.U16(m.rtu);
                          w.U16(m.point);
                          w.Text(m.time);
                          w.Finish();
                          return true;
                        },
                        [&](const EnumRequest& m) {
                          Writer w(out, MsgType::kEnum);
                          w.U16(m.cls);
                          w.U8(m.max);
                          w.U16(m.ch);
                          w.U16(m.rtu);
                          w.U16(m.point);
                          w.Finish();
                          return true;
                        },
                        [&](const NameRequest& m) {
                          Writer w(out, MsgType::kName);
                          w.U16(m.cls);
                          w.U16(m.ch);
                          w.U16(m.rtu);
                          w.U16(m.point);
                          w.Finish();
                          return true;
                        },
                    },
                    request);
}

bool EncodeEnumList(std::span<const uint16_t> numbers, std::string& out) {
  if (numbers.size() > kMaxEnumCount) return false;
  Writer w(out, MsgType::kEnumList);
  w.U8(static_cast<uint8_t>(numbers.size()));
  for (uint16_t n : numbers) w.U16(n);
  w.Finish();
  return true;
}

bool Encode(const Answer& answer, std::string& out) {
  auto text_answer = [&](MsgType type, std::string_view text) {
    if (!TextOk(text)) return false;
    Writer w(out, type);
    w.Text(text);
    w.Finish();
    return true;
  };
  return std::visit(
      Overloaded{
          [&](const Welcome& m) { return text_answer(MsgType::kWelcome, m.server); },
          [&](const Refused& m) { return text_answer(MsgType::kRefused, m.reason); },
          [&](const TimeAnswer& m) { return text_answer(MsgType::kTime, m.text); },
          [&](const ServerMessage& m) { return text_answer(MsgType::kMessage, m.text); },
          [&](const StatusAnswer& m) {
            Writer w(out, MsgType::kStatusValue);
            w.U16(static_cast<uint16_t>(m.value));
            w.Finish();
            return true;
          },
          [&](const AnalogAnswer& m) {
            Writer w(out, MsgType::kAnalogValue);
            w.U8(m.valid ? 1 : 0);
            w.F32(m.value);
            w.Finish();
            return true;
          },
          [&](const AccumAnswer& m) {
            Writer w(out, MsgType::kAccumValue);
            w.U8(m.valid ? 1 : 0);
            w.F32(m.reading);
            w.F32(m.power);
            w.Finish();
            return true;
          },
          [&](const EnumAnswer& m) {
            return EncodeEnumList(std::span<const uint16_t>(m.numbers.data(), m.count), out);
          },
          [&](const NameAnswer& m) {
            if (!TextOk(m.name)) return false;
            Writer w(out, MsgType::kNameValue);
            w.U8(m.valid ? 1 : 0);
            w.Text(m.valid ? m.name : std::string_view());
            w.Finish();
            return true;
          },
      },
      answer);
}

FrameSplit NextFrame(std::string_view bytes) {
  FrameSplit split;
  if (bytes.size() < kHeaderSize) return split;
  uint32_t length = 0;
  for (size_t i = 0; i < kHeaderSize; ++i) {
    length |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])) << (8 * i);
  }
  if (length == 0 || length > kMaxPayload) {
    split.status = FrameSplit::kError;
    split.error = length == 0 ? DecodeError::kEmptyFrame : DecodeError::kOversized;
    return split;
  }
  if (bytes.size() - kHeaderSize < length) return split;
  split.status = FrameSplit::kFrame;
  split.payload = bytes.substr(kHeaderSize, length);
  split.consumed = kHeaderSize + length;
  return split;
}

DecodedRequest DecodeRequest(std::string_view payload) {
  DecodedRequest result;
  if (payload.empty()) {
    result.error = DecodeError::kEmptyFrame;
    return result;
  }
  Reader r(payload.substr(1));
  Request request;
  // Braced initialisers read the fields in order.
  switch (static_cast<MsgType>(payload[0])) {
    case MsgType::kHello:
      request = Hello{r.U16(), r.Text(), r.Text()};
      break;
    case MsgType::kSystemTime:
      request = SystemTimeRequest{};
      break;
    case MsgType::kStatus:
      request = StatusRequest{r.U16(), r.U16(), r.U16()};
      break;
    case MsgType::kAnalog:
      request = AnalogRequest{r.U16(), r.U16(), r.U16(), r.U16(), r.Text()};
      break;
    case MsgType::kAccum:
      request = AccumRequest{r.U16(), r.U16(), r.U16(), r.Text()};
      break;
    case MsgType::kEnum:
      request = EnumRequest{r.U16(), r.U8(), r.U16(), r.U16(), r.U16()};
      break;
    case MsgType::kName:
      request = NameRequest{r.U16(), r.U16(), r.U16(), r.U16()};
      break;
    default:
      result.error = DecodeError::kUnknownType;
      return result;
  }
  result.error = r.End();
  if (result.error == DecodeError::kNone) result.request = request;
  return result;
}

DecodedAnswer DecodeAnswer(std::string_view payload) {
  DecodedAnswer result;
  if (payload.empty()) {
    result.error = DecodeError::kEmptyFrame;
    return result;
  }
  Reader r(payload.substr(1));
  Answer answer;
  switch (static_cast<MsgType>(payload[0])) {
    case MsgType::kWelcome:
      answer = Welcome{r.Text()};
      break;
    case MsgType::kRefused:
      answer = Refused{r.Text()};
      break;
    case MsgType::kTime:
      answer = TimeAnswer{r.Text()};
      break;
    case MsgType::kMessage:
      answer = ServerMessage{r.Text()};
      break;
    case MsgType::kStatusValue:
      answer = StatusAnswer{static_cast<int16_t>(r.U16())};
      break;
    case MsgType::kAnalogValue:
      answer = AnalogAnswer{r.Flag(), r.F32()};
      break;
    case MsgType::kAccumValue:
      answer = AccumAnswer{r.Flag(), r.F32(), r.F32()};
      break;
    case MsgType::kEnumList: {
      EnumAnswer& m = answer.emplace<EnumAnswer>();
      m.count = r.U8();
      for (size_t i = 0; i < m.count; ++i) m.numbers[i] = r.U16();
      break;
    }
    case MsgType::kNameValue: {
      const NameAnswer m{r.Flag(), r.Text()};
      if (!m.valid && !m.name.empty()) r.Fail(DecodeError::kBadValue);
      answer = m;
      break;
    }
    default:
      result.error = DecodeError::kUnknownType;
      return result;
  }
  result.error = r.End();
  if (result.error == DecodeError::kNone) result.answer = answer;
  return result;
}

bool EncodeTagged(MsgType type, uint32_t id, std::string_view innerPayload, std::string& out) {
  if (innerPayload.empty() || 1 + kTagSize + innerPayload.size() > kMaxPayload) return false;
  Writer w(out, type);
  w.U32(id);
  out.append(innerPayload);
  w.Finish();
  return true;
}

TaggedSplit SplitTagged(std::string_view payload, MsgType type) {
  TaggedSplit split;
  if (payload.empty() || static_cast<uint8_t>(payload[0]) != static_cast<uint8_t>(type)) {
    split.error = DecodeError::kUnknownType;
    return split;
  }
  if (payload.size() < 1 + kTagSize + 1) {
    split.error = DecodeError::kTruncated;
    return split;
  }
  for (size_t i = 0; i < kTagSize; ++i) {
    split.id |= static_cast<uint32_t>(static_cast<uint8_t>(payload[1 + i])) << (8 * i);
  }
  split.inner = payload.substr(1 + kTagSize);
  return split;
}

}  // namespace velt::tmproto
