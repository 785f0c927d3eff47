#pragma once

// Request frames as a master puts them on the line, built by hand from the wire layouts so
// the simulator is checked against the layouts rather than against itself.

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "comm/checksum.h"
#include "core/suplfunc.h"
#include "sim/line_device.h"
#include "tests/support/sealed_frame.h"

namespace simtest {

using ::Sealed;

inline bool ChecksumOk(const std::vector<uint8_t>& frame) {
  return frame.size() >= 2 && FrameChecksum(frame.data(), static_cast<uint32_t>(frame.size())) == 0;
}

template <size_t N>
std::array<uint8_t, N> Padded(std::string_view text) {
  std::array<uint8_t, N> out;
  out.fill(' ');
  for (size_t i = 0; i < text.size() && i < N; ++i)
    out[i] = static_cast<uint8_t>(text[i]);
  return out;
}

struct Codes {
  std::array<uint8_t, 12> write_password = Padded<12>("");
  std::array<uint8_t, 4> user_code = Padded<4>("");
  std::array<uint8_t, 16> const_password = Padded<16>("");
};

inline std::vector<uint8_t> Identification(uint8_t address) {
  return Sealed({0xAA, address, 6, 1});
}

inline std::vector<uint8_t> Function5(uint8_t address, uint8_t argument) {
  return Sealed({0xAA, address, 7, 5, argument});
}

// Functions 8 and 17: line, write password, user code.
inline std::vector<uint8_t> ShortBB(uint8_t address, uint8_t function, uint8_t line,
                                    const Codes& codes = {}) {
  std::vector<uint8_t> f = {0xBB, address, 23, function, line};
  f.insert(f.end(), codes.write_password.begin(), codes.write_password.end());
  f.insert(f.end(), codes.user_code.begin(), codes.user_code.end());
  return Sealed(f);
}

inline std::vector<uint8_t> Imitation(uint8_t address, uint8_t line, const Codes& codes = {}) {
  return ShortBB(address, 8, line, codes);
}

inline std::vector<uint8_t> Leave(uint8_t address, uint8_t line, const Codes& codes = {}) {
  return ShortBB(address, 17, line, codes);
}

// Function 16, 29 bytes, or 46 with the constants password.
inline std::vector<uint8_t> Enter(uint8_t address, uint8_t line, uint8_t channel,
                                  const Codes& codes = {}, bool with_const_password = false) {
  const uint8_t length = with_const_password ? 46 : 29;
  std::vector<uint8_t> f = {0xBB, address, length, 16, line, channel};
  f.insert(f.end(), codes.write_password.begin(), codes.write_password.end());
  f.insert(f.end(), codes.user_code.begin(), codes.user_code.end());
  if (with_const_password) {
    f.insert(f.end(), codes.const_password.begin(), codes.const_password.end());
  }
  f.push_back(0);            // the extra argument byte
  f.resize(length - 2u, 0);  // zero to the checksum
  return Sealed(f);
}

inline std::vector<uint8_t> ReadRegisters(uint8_t address, uint16_t first, uint16_t count) {
  return Sealed({address, 3, static_cast<uint8_t>(first >> 8), static_cast<uint8_t>(first),
                 static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)});
}

inline std::vector<uint8_t> WriteRegisters(uint8_t address, uint16_t first,
                                           const std::vector<uint16_t>& words) {
  const uint16_t count = static_cast<uint16_t>(words.size());
  std::vector<uint8_t> f = {address,
                            16,
                            static_cast<uint8_t>(first >> 8),
                            static_cast<uint8_t>(first),
                            static_cast<uint8_t>(count >> 8),
                            static_cast<uint8_t>(count),
                            static_cast<uint8_t>(2 * count)};
  for (uint16_t w : words) {
    f.push_back(static_cast<uint8_t>(w >> 8));
    f.push_back(static_cast<uint8_t>(w));
  }
  return Sealed(f);
}

inline std::vector<uint8_t> Preambled(std::vector<uint8_t> frame, size_t preambles) {
  frame.insert(frame.begin(), preambles, 0xFF);
  return frame;
}

inline std::vector<uint8_t> Bytes(const std::vector<TimedByte>& timed) {
  std::vector<uint8_t> out;
  for (const TimedByte& b : timed)
    out.push_back(b.value);
  return out;
}

inline uint16_t Word(const std::vector<uint8_t>& f, size_t at) {
  return static_cast<uint16_t>(f[at] << 8 | f[at + 1]);
}

}  // namespace simtest
