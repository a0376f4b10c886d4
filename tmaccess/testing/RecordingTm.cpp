#include "RecordingTm.h"

#include "FakeTm.h"

namespace velt {

int16_t RecordingTm::tmaStatus(uint16_t ch, uint16_t rtu, uint16_t point) {
  log.push_back(Describe(StatusRequest(ch, rtu, point)));
  return ForwardingTm::tmaStatus(ch, rtu, point);
}

float RecordingTm::tmaAnalog(uint16_t ch, uint16_t rtu, uint16_t point, const std::string& time,
                             uint16_t archive) {
  log.push_back(Describe(AnalogRequest(ch, rtu, point, time, archive)));
  return ForwardingTm::tmaAnalog(ch, rtu, point, time, archive);
}

uint32_t RecordingTm::tmaAccumFull(uint16_t ch, uint16_t rtu, uint16_t point, float* values,
                                   const std::string& time) {
  log.push_back(Describe(AccumRequest(ch, rtu, point, time)));
  return ForwardingTm::tmaAccumFull(ch, rtu, point, values, time);
}

void RecordingTm::tmaBatch(std::span<const TmBatchRequest> requests,
                           std::span<TmBatchAnswer> answers) {
  for (const TmBatchRequest& request : requests) {
    if (request.kind == TmBatchRequest::Kind::Status ||
        request.kind == TmBatchRequest::Kind::Analog ||
        request.kind == TmBatchRequest::Kind::AccumFull) {
      log.push_back(Describe(request));
    }
  }
  ForwardingTm::tmaBatch(requests, answers);
}

}  // namespace velt
