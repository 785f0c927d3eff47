#pragma once

#include <chrono>
#include <optional>
#include <string>

// The log of the current values: CSV for a spreadsheet, the same from the values monitor and
// from the command line. UTF-8 with a byte-order mark, `;` between fields, a header row, lines
// ended by CR LF, numbers with the decimal separator the caller gives (a comma where the
// user's locale writes one, so that a spreadsheet takes them as numbers).

// One poll: the values in the display unit, or the error text of a failed read.
struct LoggedReading {
  std::chrono::system_clock::time_point time;
  double seconds = 0.0;  // since the log started
  std::optional<double> value;
  std::optional<double> factory_value;
  std::string unit;
  int channel = 0;  // 0 pressure, 1 temperature
  std::string error;
};

// The byte-order mark and the header row.
std::string ReadingLogHeader();

// One row; values with `digits` decimals, seconds with three.
std::string ReadingLogLine(const LoggedReading& reading, int digits, char decimal);

// Local date and time to the millisecond, as the log shows it: "2026-12-08 15:47:36.123".
std::string LogTimeText(std::chrono::system_clock::time_point time);

// The decimal separator of the user's locale (the environment's, not the process's own, which
// stays "C" for every other number): ',' or '.'.
char UserDecimalSeparator();
