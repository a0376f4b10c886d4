// Feeds arbitrary bytes to the frame splitter and both decoders; whatever decodes must encode
// back to the same payload.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "TmProtocol.h"

using namespace velt::tmproto;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  while (!bytes.empty()) {
    const FrameSplit split = NextFrame(bytes);
    if (split.status != FrameSplit::kFrame) break;
    const DecodedRequest request = DecodeRequest(split.payload);
    if (request.error == DecodeError::kNone) {
      std::string again;
      if (!Encode(request.request, again) || again.substr(kHeaderSize) != split.payload) abort();
    }
    const DecodedAnswer answer = DecodeAnswer(split.payload);
    if (answer.error == DecodeError::kNone) {
      std::string again;
      if (!Encode(answer.answer, again) || again.substr(kHeaderSize) != split.payload) abort();
    }
    bytes.remove_prefix(split.consumed);
  }
  // A payload without a frame header goes straight to the decoders too.
  (void)DecodeRequest(std::string_view(reinterpret_cast<const char*>(data), size));
  (void)DecodeAnswer(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
