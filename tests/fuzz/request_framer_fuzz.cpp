// The simulator's request framer fed arbitrary bytes in arbitrary pieces: every frame it finds
// is a whole frame whose checksum checks, and it holds no more than it must.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "comm/checksum.h"
#include "sim/request_framer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  RequestFramer framer((data[0] & 1) != 0, LineTiming{});
  uint64_t now = 0;
  size_t pos = 1;
  while (pos < size) {
    // A piece's first byte says how long it is and how long the line was quiet before it.
    const size_t length = std::min<size_t>(size - pos - 1, data[pos] & 0x1F);
    now += (data[pos] & 0x80) ? 10'000 : 100;
    const std::vector<uint8_t> piece(data + pos + 1, data + pos + 1 + length);
    pos += 1 + length;
    for (const LineRequest& request : framer.Feed(piece, now)) {
      if (request.bytes.size() < 4 ||
          FrameChecksum(request.bytes.data(), static_cast<uint32_t>(request.bytes.size())) != 0)
        std::abort();
      if (request.kind == FrameKind::kCorrector && request.bytes[2] != request.bytes.size())
        std::abort();
    }
    if (framer.pending() > 4096)
      std::abort();
  }
  return 0;
}
