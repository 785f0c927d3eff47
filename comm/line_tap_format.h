#pragma once

#include <string>

#include "comm/line_tap.h"

// The frames of a tap as text, the same for the exchange monitor, its saved files and a trace
// on a terminal. Secret bytes show as "**" everywhere: they are not in the frame to begin with.

// "Коректор", "Modbus" or "Еталон".
const char* TapProtocolName(TapProtocol protocol);
// "->" sent, "<-" received, "==" the end of a transaction.
const char* TapDirectionMark(TapDirection direction);
// A word for the outcome: "відповідь", "тайм-аут", "КС", "виняток", "перервано", "зв'язок
// втрачено", "помилка"; empty while pending.
const char* TapOutcomeName(TapOutcome outcome);
// True for the outcomes an "errors only" view keeps.
bool TapOutcomeIsError(TapOutcome outcome);

// The bytes in hexadecimal, separated by blanks, "**" for a secret byte.
std::string TapHex(const TapFrame& frame);
// What the frame says, decoded: start byte, address, function and the fields of the reply for
// the corrector; address, function, registers, values and the float pairs for Modbus; the
// outcome of an outcome row.
std::string DescribeTapFrame(const TapFrame& frame);
// A register float as the shortest decimal that reads back to the same bits ("1.0000001" for
// 3F800001, "101.325", "nan").
std::string TapFloatText(float value);
// Milliseconds since the tap was made, three decimals.
std::string TapTimeMs(const TapFrame& frame);

// One line of text: time, direction, protocol, outcome, bytes and the summary.
std::string FormatTapLine(const TapFrame& frame);
// The same as a CSV record (RFC 4180 quoting), and the header line of such a file.
std::string TapCsvHeader();
std::string FormatTapCsv(const TapFrame& frame);
// A link's counts on one line.
std::string FormatLinkStats(TapProtocol protocol, const LinkStats& stats);
