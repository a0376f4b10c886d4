// Every request passed on to another TM layer, single or batched, in the order the server gets
// them, noted as FakeTm notes them (Describe): "status 1:2:10", "analog 1:2:3 N/A 0",
// "accum 1:3:2 ''". System time, enumeration and name requests are passed on without a note.
#pragma once

#include <string>
#include <vector>

#include "TmOperations.h"

namespace velt {

class RecordingTm : public ForwardingTm {
 public:
  using ForwardingTm::ForwardingTm;

  int16_t tmaStatus(uint16_t ch, uint16_t rtu, uint16_t point) override;
  float tmaAnalog(uint16_t ch, uint16_t rtu, uint16_t point, const std::string& time,
                  uint16_t archive) override;
  uint32_t tmaAccumFull(uint16_t ch, uint16_t rtu, uint16_t point, float* values,
                        const std::string& time) override;
  void tmaBatch(std::span<const TmBatchRequest> requests,
                std::span<TmBatchAnswer> answers) override;

  std::vector<std::string> log;
};

}  // namespace velt
