#include "RecordingTm.h"

namespace velt {

std::string RequestText(const TmBatchRequest& request) {
  static const char* const kKinds[] = {"status", "analog", "accum", "enum", "name"};
  std::string text = kKinds[static_cast<int>(request.kind)] + (" " + std::to_string(request.ch)) +
                     ":" + std::to_string(request.rtu) + ":" + std::to_string(request.point);
  if (request.kind == TmBatchRequest::Kind::Analog) {
    text += " " + request.time + " " + std::to_string(request.archive);
  } else if (request.kind == TmBatchRequest::Kind::AccumFull) {
    text += " " + request.time;
  }
  return text;
}

int16_t RecordingTm::tmaStatus(uint16_t ch, uint16_t rtu, uint16_t point) {
  log.push_back(RequestText(StatusRequest(ch, rtu, point)));
  return ForwardingTm::tmaStatus(ch, rtu, point);
}

float RecordingTm::tmaAnalog(uint16_t ch, uint16_t rtu, uint16_t point, const std::string& time,
                             uint16_t archive) {
  log.push_back(RequestText(AnalogRequest(ch, rtu, point, time, archive)));
  return ForwardingTm::tmaAnalog(ch, rtu, point, time, archive);
}

uint32_t RecordingTm::tmaAccumFull(uint16_t ch, uint16_t rtu, uint16_t point, float* values,
                                   const std::string& time) {
  log.push_back(RequestText(AccumRequest(ch, rtu, point, time)));
  return ForwardingTm::tmaAccumFull(ch, rtu, point, values, time);
}

void RecordingTm::tmaBatch(std::span<const TmBatchRequest> requests,
                           std::span<TmBatchAnswer> answers) {
  for (const TmBatchRequest& request : requests) {
    if (request.kind == TmBatchRequest::Kind::Status ||
        request.kind == TmBatchRequest::Kind::Analog ||
        request.kind == TmBatchRequest::Kind::AccumFull) {
      log.push_back(RequestText(request));
    }
  }
  ForwardingTm::tmaBatch(requests, answers);
}

}  // namespace velt
