// The Modbus exchange fed arbitrary replies on the virtual clock: it ends with one of its codes,
// and a read it takes carries exactly the registers asked for.
#include <cstdlib>

#include "comm/checksum.h"
#include "comm/modbusbox.h"
#include "sim/virtual_line.h"
#include "tests/fuzz/fuzz_line_device.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3)
    return 0;
  const uint8_t mode = data[0];
  VirtualClock clock;
  FuzzDevice device(data + 3, size - 3, 50 + data[1] * 10u);
  VirtualLine line(clock, &device);
  modbusbox box(1);
  box.port_handle = &line;
  box.clock = &clock;
  box.preambles = mode & 3;
  box.echo = static_cast<EchoMode>(((mode >> 2) & 3) % 3);
  const uint16_t count = static_cast<uint16_t>(data[2] % 8 + 1);
  const uint16_t first = static_cast<uint16_t>(data[2] << 4);
  bool ok = false;
  if (mode & 0x10) {
    const uint16_t values[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ok = box.WriteRegisters(first, count, values);
  } else {
    ok = box.ReadRegisters(first, count);
    if (ok && (box.reply[2] != 2 * count || FrameChecksum(box.reply.data(), 2u * count + 5) != 0))
      std::abort();
  }
  if (ok != (box.error_code == 0))
    std::abort();
  const int code = box.error_code;
  const bool known =
      code == 0 || (code >= 1 && code <= 8) || code == 21 || code == 25 || code == 27 ||
      code == 29 ||
      (code >= modbusbox::kErrorOtherException && code <= modbusbox::kErrorOtherException + 255);
  if (!known)
    std::abort();
  if (!ok) {
    box.BuildErrorText();
    if (box.ErrorText().empty())
      std::abort();
  }
  return 0;
}
