#pragma once

#include <termios.h>

#include <string>

#include "comm/comport_settings.h"

// Puts `settings` into `t` as a raw 8-bit-clean line: no echo, no line editing, no character
// translation, no software or hardware flow control (RTS is driven by hand), receiver on,
// modem status lines ignored, and reads that return at once (VMIN 0, VTIME 0). Fields that do
// not concern the line stay as they are. False, with the reason in `why`, when the settings
// cannot be expressed exactly: the rate is no standard speed, 4 data bits, or one and a half
// stop bits with more than 5 data bits.
bool ToTermios(const ComSettings& settings, termios& t, std::string* why);

// The standard speed constant for `rate` bit/s, or false when there is none.
bool TermiosSpeedFor(int32_t rate, speed_t& speed);
