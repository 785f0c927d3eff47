#pragma once

#include <algorithm>
#include <cstdint>

// What OpenComPort makes of its arguments before the platform sees them.

enum class ComParity { kNone, kEven, kOdd };
enum class ComStopBits { kOne, kOneAndHalf, kTwo };

struct ComSettings {
  int32_t rate;
  int data_bits;
  ComParity parity;
  ComStopBits stop_bits;

  bool operator==(const ComSettings&) const = default;
};

inline constexpr int32_t kMinComRate = 110;
inline constexpr int32_t kMaxComRate = 256000;
inline constexpr int kMinComDataBits = 4;
inline constexpr int kMaxComDataBits = 8;

// Parity code 1 is even and 2 odd: not the Win32 numbering, where 1 is odd.
inline ComSettings ComSettingsFor(int32_t rate, int data_bits, int parity_code, int stop_code) {
  ComSettings s{};
  s.rate = std::clamp(rate, kMinComRate, kMaxComRate);
  s.data_bits = std::clamp(data_bits, kMinComDataBits, kMaxComDataBits);
  s.parity = parity_code == 1   ? ComParity::kEven
             : parity_code == 2 ? ComParity::kOdd
                                : ComParity::kNone;
  s.stop_bits = stop_code == 1   ? ComStopBits::kOneAndHalf
                : stop_code == 2 ? ComStopBits::kTwo
                                 : ComStopBits::kOne;
  return s;
}
