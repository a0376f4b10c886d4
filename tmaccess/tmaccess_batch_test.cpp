// TmAccess::tmaBatch over the loaded libtmconn and a tmsim. CTest runs this program twice: with
// the library as built, whose batch extension it must find, and with a library of only the nine
// functions in its place (VELT_TMCONN_WITHOUT_BATCH set), where it falls back to single calls.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "TmsimProcess.h"
#include "tmaccess.h"

namespace velt {
namespace {

std::string Text(const TmBatchRequest& q, const TmBatchAnswer& a) {
  switch (q.kind) {
    case TmBatchRequest::Kind::Status:
      return std::to_string(a.status);
    case TmBatchRequest::Kind::Analog:
      return std::to_string(a.analog);
    case TmBatchRequest::Kind::AccumFull:
      return std::to_string(a.result) + " " + std::to_string(a.values[0]) + " " +
             std::to_string(a.values[1]);
    case TmBatchRequest::Kind::EnumObjects: {
      std::string text = std::to_string(a.result);
      for (uint16_t n : a.numbers) text += " " + std::to_string(n);
      return text;
    }
    case TmBatchRequest::Kind::GetObjectName:
      return std::to_string(a.named) + " " + a.name;
  }
  return {};
}

TEST(TmAccessBatch, AnswersAsTheSingleCallsWould) {
  const bool withoutExtension = std::getenv("VELT_TMCONN_WITHOUT_BATCH") != nullptr;
  TmAccess tm;
  EXPECT_EQ(tm.HasBatch(), !withoutExtension);

  TmsimProcess sim;
  ASSERT_EQ(tm.tmaConnect(sim.Address(), kClientName), 1);
  using Kind = TmBatchRequest::Kind;
  std::vector<TmBatchRequest> requests;
  for (uint16_t point = 1; point <= 12; ++point) {
    requests.push_back({Kind::Status, 0, 1, 2, point, 0, 0, 0, ""});
    requests.push_back({Kind::Analog, 0, 1, 2, point, 2, 0, 0, "01.12.2026 12:00"});
    requests.push_back({Kind::Analog, 0, 1, 2, point, 2, 0, 0, "01.12.2026 1з:00"});
    requests.push_back({Kind::AccumFull, 0, 1, 3, point, 0, 0, 0, "01.12.2026 09:00"});
    requests.push_back({Kind::GetObjectName, kClassStatus, 1, 2, point, 0, 0, 260, ""});
    requests.push_back({Kind::GetObjectName, kClassAnalog, 1, 2, point, 0, 0, 8, ""});
    requests.push_back({Kind::EnumObjects, kClassStatus, 1, 2, point, 0, 3, 0, ""});
  }
  requests.push_back({Kind::EnumObjects, kClassChannel, 0, 0, 0, 0, 255, 0, ""});
  std::vector<TmBatchAnswer> batched(requests.size()), single(requests.size());
  tm.tmaBatch(requests, batched);
  AnswerOneByOne(tm, requests, single);
  for (size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(Text(requests[i], batched[i]), Text(requests[i], single[i])) << "request " << i;
  }
  EXPECT_EQ(batched[7 * 9 + 4].name, "Положение РПН Т1");  // status point 10 of 1:2
  tm.tmaDisconnect();
}

}  // namespace
}  // namespace velt
