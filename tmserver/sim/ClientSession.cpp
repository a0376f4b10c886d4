#include "ClientSession.h"

#include <variant>

#include "SliceTime.h"
#include "TmProtocol.h"

namespace velt::tmsim {

namespace tp = velt::tmproto;

namespace {

template <class Map>
tp::EnumAnswer Enumerate(const Map& map, uint16_t start, uint8_t max) {
  tp::EnumAnswer answer;
  for (auto it = map.lower_bound(start); it != map.end() && answer.count < max; ++it) {
    answer.numbers[answer.count++] = it->first;
  }
  return answer;
}

template <class Map>
const std::optional<std::string>* NameIn(const Map& map, uint16_t number) {
  const auto it = map.find(number);
  return it == map.end() ? nullptr : &it->second.name;
}

}  // namespace

ClientSession::ClientSession(const Database& db, const std::string& server_name, Clock clock)
    : db_(db), server_name_(server_name), clock_(std::move(clock)) {}

ClientSession::Outcome ClientSession::Feed(std::string& in, std::string& out,
                                           std::string& problem) {
  size_t used = 0;
  Outcome outcome = Outcome::kContinue;
  while (outcome == Outcome::kContinue) {
    const tp::FrameSplit split = tp::NextFrame(std::string_view(in).substr(used));
    if (split.status == tp::FrameSplit::kNeedMore) break;
    if (split.status == tp::FrameSplit::kError) {
      problem = tp::DescribeError(split.error);
      outcome = Outcome::kClose;
      break;
    }
    outcome = Handle(split.payload, out, problem);
    used += split.consumed;
  }
  in.erase(0, used);
  return outcome;
}

ClientSession::Outcome ClientSession::Handle(std::string_view payload, std::string& out,
                                             std::string& problem) {
  if (greeted_ && !payload.empty() &&
      static_cast<uint8_t>(payload[0]) == static_cast<uint8_t>(tp::MsgType::kTagged)) {
    return HandleTagged(payload, out, problem);
  }
  const tp::DecodedRequest decoded = tp::DecodeRequest(payload);
  if (decoded.error != tp::DecodeError::kNone) {
    problem = tp::DescribeError(decoded.error);
    return Outcome::kClose;
  }
  const tp::Request& request = decoded.request;

  if (!greeted_) {
    const auto* hello = std::get_if<tp::Hello>(&request);
    if (hello == nullptr) {
      problem = "request before the handshake";
      return Outcome::kClose;
    }
    if (hello->version != tp::kProtocolVersion) {
      tp::Encode(tp::Refused{"unsupported protocol version"}, out);
      problem = "protocol version " + std::to_string(hello->version);
      return Outcome::kClose;
    }
    if (hello->server != server_name_) {
      std::string reason = "wrong server name \"";
      reason.append(hello->server);
      reason += "\"";
      tp::Encode(tp::Refused{reason}, out);
      problem = reason;
      return Outcome::kClose;
    }
    for (const std::string& text : db_.greeting) tp::Encode(tp::ServerMessage{text}, out);
    tp::Encode(tp::Welcome{server_name_}, out);
    client_.assign(hello->client);
    greeted_ = true;
    return Outcome::kContinue;
  }

  if (std::holds_alternative<tp::Hello>(request)) {
    problem = "second handshake";
    return Outcome::kClose;
  }
  if (std::holds_alternative<tp::SystemTimeRequest>(request)) {
    tp::Encode(tp::TimeAnswer{FormatCivil(clock_())}, out);
  } else if (const auto* status = std::get_if<tp::StatusRequest>(&request)) {
    const auto v = db_.StatusAt(status->ch, status->rtu, status->point, clock_());
    tp::Encode(tp::StatusAnswer{v ? *v : int16_t{-1}}, out);
  } else if (const auto* analog = std::get_if<tp::AnalogRequest>(&request)) {
    std::optional<float> v;
    if (analog->time == tp::kCurrentTime && analog->archive == 0) {
      v = db_.AnalogNow(analog->ch, analog->rtu, analog->point, clock_());
    } else if (const auto slice = ParseSliceTime(analog->time, MidnightOf(clock_()))) {
      v = db_.AnalogAt(analog->ch, analog->rtu, analog->point, analog->archive, *slice);
    }
    tp::Encode(tp::AnalogAnswer{v.has_value(), v.value_or(0.0f)}, out);
  } else if (const auto* accum = std::get_if<tp::AccumRequest>(&request)) {
    std::optional<std::pair<float, float>> v;
    if (accum->time.empty()) {
      v = db_.AccumNow(accum->ch, accum->rtu, accum->point, clock_());
    } else if (const auto slice = ParseSliceTime(accum->time, MidnightOf(clock_()))) {
      v = db_.AccumAt(accum->ch, accum->rtu, accum->point, *slice);
    }
    tp::AccumAnswer a;
    if (v) a = tp::AccumAnswer{true, v->first, v->second};
    tp::Encode(a, out);
  } else if (const auto* enumeration = std::get_if<tp::EnumRequest>(&request)) {
    tp::EnumAnswer a;
    if (enumeration->cls == tp::kClassChannel) {
      a = Enumerate(db_.channels, 0, enumeration->max);
    } else if (enumeration->cls == tp::kClassRtu) {
      if (const auto c = db_.channels.find(enumeration->ch); c != db_.channels.end()) {
        a = Enumerate(c->second.rtus, enumeration->rtu, enumeration->max);
      }
    } else if (const Rtu* rtu = db_.FindRtu(enumeration->ch, enumeration->rtu)) {
      if (enumeration->cls == tp::kClassStatus)
        a = Enumerate(rtu->status, enumeration->point, enumeration->max);
      if (enumeration->cls == tp::kClassAnalog)
        a = Enumerate(rtu->analog, enumeration->point, enumeration->max);
      if (enumeration->cls == tp::kClassAccum)
        a = Enumerate(rtu->accum, enumeration->point, enumeration->max);
    }
    tp::Encode(a, out);
  } else if (const auto* naming = std::get_if<tp::NameRequest>(&request)) {
    const std::optional<std::string>* name = nullptr;
    if (naming->cls == tp::kClassChannel) {
      name = NameIn(db_.channels, naming->ch);
    } else if (naming->cls == tp::kClassRtu) {
      if (const auto c = db_.channels.find(naming->ch); c != db_.channels.end()) {
        name = NameIn(c->second.rtus, naming->rtu);
      }
    } else if (const Rtu* rtu = db_.FindRtu(naming->ch, naming->rtu)) {
      if (naming->cls == tp::kClassStatus) name = NameIn(rtu->status, naming->point);
      if (naming->cls == tp::kClassAnalog) name = NameIn(rtu->analog, naming->point);
      if (naming->cls == tp::kClassAccum) name = NameIn(rtu->accum, naming->point);
    }
    if (name != nullptr && name->has_value()) {
      tp::Encode(tp::NameAnswer{true, **name}, out);
    } else {
      tp::Encode(tp::NameAnswer{}, out);
    }
  }
  return Outcome::kContinue;
}

// A batch request with its identity: answered as the plain request would be, the answer tagged
// with the same identity so that the client can tell which request it belongs to.
ClientSession::Outcome ClientSession::HandleTagged(std::string_view payload, std::string& out,
                                                   std::string& problem) {
  const tp::TaggedSplit tagged = tp::SplitTagged(payload, tp::MsgType::kTagged);
  if (tagged.error != tp::DecodeError::kNone) {
    problem = tp::DescribeError(tagged.error);
    return Outcome::kClose;
  }
  const auto inner = static_cast<tp::MsgType>(static_cast<uint8_t>(tagged.inner[0]));
  if (inner == tp::MsgType::kHello || inner == tp::MsgType::kTagged) {
    problem = "a handshake or tagged request inside a tagged request";
    return Outcome::kClose;
  }
  std::string answer;
  const Outcome outcome = Handle(tagged.inner, answer, problem);
  if (outcome != Outcome::kContinue) return outcome;
  if (!tp::EncodeTagged(tp::MsgType::kTaggedAnswer, tagged.id,
                        std::string_view(answer).substr(tp::kHeaderSize), out)) {
    problem = "answer too large to tag";
    return Outcome::kClose;
  }
  return Outcome::kContinue;
}

}  // namespace velt::tmsim
