// The corrector's exchange fed arbitrary replies: it ends with one of its codes, and a reply it
// takes is a whole frame of the expected length with a checksum that checks.
#include <cstdlib>
#include <set>

#include "comm/calcbox.h"
#include "comm/checksum.h"
#include "sim/virtual_line.h"
#include "tests/fuzz/fuzz_line_device.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2)
    return 0;
  const uint8_t mode = data[0];
  VirtualClock clock;
  FuzzDevice device(data + 2, size - 2, 100 + data[1] * 20u);
  VirtualLine line(clock, &device);
  calcbox box((mode & 1) ? calcbox::kSearchAddress : 1);
  box.port_handle = &line;
  box.clock = &clock;
  box.preambles = (mode >> 1) & 3;
  box.echo = static_cast<EchoMode>(((mode >> 3) & 3) % 3);
  const uint8_t args[3] = {1, 0, 0};
  bool ok = false;
  switch ((mode >> 5) & 3) {
    case 0:
      ok = box.Exchange(calcbox::kStartPlain, calcbox::kFunctionIdentification, nullptr, 0);
      break;
    case 1:
      ok = box.Exchange(calcbox::kStartPlain, calcbox::kFunction5, args, 1);
      break;
    case 2:
      ok = box.Exchange(calcbox::kStartPassword, calcbox::kFunctionReadImitation, args, 1);
      break;
    default:
      ok = box.Exchange(calcbox::kStartPassword, calcbox::kFunctionEnterService, args, 3);
      break;
  }
  static const std::set<int> kFailures = {6, 7, 8, 9, 10, 11, 12};
  if (ok) {
    if (box.error_code != 0 || box.reply[2] != box.expected_length ||
        FrameChecksum(box.reply.data(), box.reply[2]) != 0)
      std::abort();
  } else if (kFailures.count(box.error_code) == 0 || box.ErrorText().empty()) {
    std::abort();
  }
  return 0;
}
