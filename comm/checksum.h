#pragma once

#include <cstdint>

// CRC-16 of both protocols on the line: reflected polynomial 0xA001, initial value 0xFFFF, no
// final XOR. The checksum follows the bytes it covers, low byte first, so a whole received
// frame checks to 0.
uint16_t FrameChecksum(const uint8_t* data, uint32_t length);
