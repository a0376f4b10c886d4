#include "Session.h"

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

Session::Session(const Database& db, const std::string& server_name, Clock clock)
    : db_(db), server_name_(server_name), clock_(std::move(clock)) {}

Session::Outcome Session::Feed(std::string& in, std::string& out, std::string& problem) {
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

Session::Outcome Session::Handle(std::string_view payload, std::string& out, std::string& problem) {
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
  } else if (const auto* m = std::get_if<tp::StatusRequest>(&request)) {
    const auto v = db_.StatusAt(m->ch, m->rtu, m->point, clock_());
    tp::Encode(tp::StatusAnswer{v ? *v : int16_t{-1}}, out);
  } else if (const auto* m = std::get_if<tp::AnalogRequest>(&request)) {
    std::optional<float> v;
    if (m->time == "N/A" && m->archive == 0) {
      v = db_.AnalogNow(m->ch, m->rtu, m->point, clock_());
    } else if (const auto slice = ParseSliceTime(m->time, MidnightOf(clock_()))) {
      v = db_.AnalogAt(m->ch, m->rtu, m->point, m->archive, *slice);
    }
    tp::Encode(tp::AnalogAnswer{v.has_value(), v.value_or(0.0f)}, out);
  } else if (const auto* m = std::get_if<tp::AccumRequest>(&request)) {
    std::optional<std::pair<float, float>> v;
    if (m->time.empty()) {
      v = db_.AccumNow(m->ch, m->rtu, m->point, clock_());
    } else if (const auto slice = ParseSliceTime(m->time, MidnightOf(clock_()))) {
      v = db_.AccumAt(m->ch, m->rtu, m->point, *slice);
    }
    tp::AccumAnswer a;
    if (v) a = tp::AccumAnswer{true, v->first, v->second};
    tp::Encode(a, out);
  } else if (const auto* m = std::get_if<tp::EnumRequest>(&request)) {
    tp::EnumAnswer a;
    if (m->cls == 0x9000) {
      a = Enumerate(db_.channels, 0, m->max);
    } else if (m->cls == 0x9001) {
      if (const auto c = db_.channels.find(m->ch); c != db_.channels.end()) {
        a = Enumerate(c->second.rtus, m->rtu, m->max);
      }
    } else if (const Rtu* rtu = db_.FindRtu(m->ch, m->rtu)) {
      if (m->cls == 0x8000) a = Enumerate(rtu->status, m->point, m->max);
      if (m->cls == 0x8001) a = Enumerate(rtu->analog, m->point, m->max);
      if (m->cls == 0x8002) a = Enumerate(rtu->accum, m->point, m->max);
    }
    tp::Encode(a, out);
  } else if (const auto* m = std::get_if<tp::NameRequest>(&request)) {
    const std::optional<std::string>* name = nullptr;
    if (m->cls == 0x9000) {
      name = NameIn(db_.channels, m->ch);
    } else if (m->cls == 0x9001) {
      if (const auto c = db_.channels.find(m->ch); c != db_.channels.end()) {
        name = NameIn(c->second.rtus, m->rtu);
      }
    } else if (const Rtu* rtu = db_.FindRtu(m->ch, m->rtu)) {
      if (m->cls == 0x8000) name = NameIn(rtu->status, m->point);
      if (m->cls == 0x8001) name = NameIn(rtu->analog, m->point);
      if (m->cls == 0x8002) name = NameIn(rtu->accum, m->point);
    }
    if (name != nullptr && name->has_value()) {
      tp::Encode(tp::NameAnswer{true, **name}, out);
    } else {
      tp::Encode(tp::NameAnswer{}, out);
    }
  }
  return Outcome::kContinue;
}

}  // namespace velt::tmsim
