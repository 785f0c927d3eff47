#include "comm/line_tap_format.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "comm/calcbox.h"
#include "comm/checksum.h"
#include "comm/modbusbox.h"
#include "comm/reference_box.h"

namespace {

constexpr uint8_t kModbusRead = 3;
constexpr uint8_t kModbusWrite = 16;
constexpr uint8_t kExceptionFlag = 0x80;

// Float pairs of the sensor's register map, the lower-numbered register first.
struct FloatPair {
  uint16_t first;
  const char* name;
};
constexpr FloatPair kFloatPairs[] = {
    {400, "значення"},
    {436, "зміщення"},
    {438, "нахил"},
};

// Identification reply bytes.
constexpr size_t kIdSwVersion = 63;
constexpr size_t kIdPlate = 69;
constexpr size_t kIdFlags = 162;
constexpr uint8_t kIdConstPasswordFlag = 0x80;
constexpr size_t kImitationState = 5;

std::string Hex2(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X", value & 0xFFu);
  return text;
}

std::string Ms(uint32_t us) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(us) / 1000.0);
  return text;
}

const char* CorrectorFunctionName(uint8_t function) {
  switch (function) {
    case calcbox::kFunctionIdentification:
      return " (ідентифікація)";
    case calcbox::kFunctionReadImitation:
      return " (імітація)";
    case calcbox::kFunctionEnterService:
      return " (на обслуговування)";
    case calcbox::kFunctionLeaveService:
      return " (зняти з обслуговування)";
    default:
      return "";
  }
}

std::string DescribeCorrectorSent(const TapFrame& frame) {
  const size_t at = frame.lead;
  const auto& b = frame.bytes;
  if (b.size() < at + 4)
    return "неповний запит";
  const uint8_t function = b[at + 3];
  std::string text = "старт " + Hex2(b[at]) + ", адреса " + std::to_string(b[at + 1]) +
                     ", функція " + std::to_string(function) + CorrectorFunctionName(function);
  if (b[at] == calcbox::kStartPassword && b.size() > at + 4) {
    text += ", лінія " + std::to_string(b[at + 4]);
    if (function == calcbox::kFunctionEnterService && b.size() > at + 5)
      text += ", канал " + std::to_string(b[at + 5]);
    if (frame.mask_to > frame.mask_from)
      text += ", коди **";
  } else if (function == calcbox::kFunction5 && b.size() > at + 4) {
    text += ", аргумент " + std::to_string(b[at + 4]);
  }
  if (frame.lead > 0)
    text += ", преамбул " + std::to_string(frame.lead);
  return text;
}

std::string DescribeCorrectorReceived(const TapFrame& frame) {
  const auto& b = frame.bytes;
  if (b.size() < 4)
    return "неповна відповідь (" + std::to_string(b.size()) + " байт)";
  const uint8_t function = b[3];
  std::string text = "старт " + Hex2(b[0]) + ", адреса " + std::to_string(b[1]) + ", довжина " +
                     std::to_string(b[2]) + ", функція " + std::to_string(function);
  if (b.size() < b[2] || b[2] < 6)
    return text + ", неповна";
  if (FrameChecksum(b.data(), b[2]) != 0)
    return text + ", КС невірна";
  if (b[0] == calcbox::kReplyPlain) {
    if (function == 0xFF)
      return text + ", відмова (функція 0xFF)";
    if (function == calcbox::kFunctionIdentification && b.size() > kIdFlags) {
      text += CorrectorFunctionName(function);
      text += ": версія ПО " + std::to_string(b[kIdSwVersion]) + ", плата " +
              std::to_string(b[kIdPlate]) + ", пароль констант " +
              ((b[kIdFlags] & kIdConstPasswordFlag) != 0 ? "потрібен" : "не потрібен");
    }
    return text;
  }
  const uint8_t asked = static_cast<uint8_t>(function & ~kExceptionFlag);
  if ((function & kExceptionFlag) == 0 || asked != frame.function) {
    // The corrector refused: the code, its pipeline and detail decode as the exchange does.
    calcbox decoder(0);
    std::copy(b.begin(), b.begin() + std::min(b.size(), decoder.reply.size()),
              decoder.reply.begin());
    decoder.DecodeDeviceError();
    return text + ", помилка " + std::to_string(b.size() > 4 ? b[4] : 0) + ": " +
           decoder.error_text;
  }
  text += CorrectorFunctionName(asked);
  if (asked == calcbox::kFunctionReadImitation && b.size() > kImitationState) {
    const int state = b[kImitationState] & 0x07;
    text += ": стан лінії " + std::to_string(state) +
            (state == calcbox::kStateService  ? " (обслуговування)"
             : state == calcbox::kStateNormal ? " (звичайний)"
                                              : "");
  } else {
    text += ": прийнято";
  }
  return text;
}

// Values of registers [first, first + count) as given, then the float pairs they hold whole.
std::string DescribeRegisters(uint16_t first, const std::vector<uint16_t>& values) {
  std::string text;
  for (size_t i = 0; i < values.size(); ++i)
    text += (i == 0 ? ": " : " ") + std::to_string(values[i]);
  for (const FloatPair& pair : kFloatPairs) {
    if (pair.first < first || pair.first + 1u >= first + values.size())
      continue;
    const size_t i = pair.first - first;
    text += "; " + std::to_string(pair.first) + "-" + std::to_string(pair.first + 1) + " " +
            pair.name + " = " + TapFloatText(RegistersToFloat(values[i], values[i + 1]));
  }
  return text;
}

std::string RegisterRange(uint16_t first, uint16_t count) {
  // Appended piece by piece: GCC 12 warns wrongly about a literal put before a temporary.
  std::string text = "регістри ";
  text += std::to_string(first);
  if (count > 1) {
    text += '-';
    text += std::to_string(first + count - 1);
  }
  text += " (";
  text += std::to_string(count);
  text += ')';
  return text;
}

std::string DescribeModbusSent(const TapFrame& frame) {
  const size_t at = frame.lead;
  const auto& b = frame.bytes;
  if (b.size() < at + 8)
    return "неповний запит";
  const uint8_t function = b[at + 1];
  const uint16_t first = GetWordBE(&b[at + 2]);
  const uint16_t count = GetWordBE(&b[at + 4]);
  std::string text = "адреса " + std::to_string(b[at]) + ", функція " + std::to_string(function) +
                     ", " + RegisterRange(first, count);
  if (frame.lead > 0)
    text += ", преамбул " + std::to_string(frame.lead);
  if (function == kModbusWrite && b.size() >= at + 9u + 2u * count) {
    std::vector<uint16_t> values(count);
    for (size_t i = 0; i < count; ++i)
      values[i] = GetWordBE(&b[at + 7 + 2 * i]);
    text += DescribeRegisters(first, values);
  }
  return text;
}

std::string DescribeModbusReceived(const TapFrame& frame) {
  const auto& b = frame.bytes;
  if (b.size() < 5)
    return "неповна відповідь (" + std::to_string(b.size()) + " байт)";
  const uint8_t function = b[1];
  std::string text = "адреса " + std::to_string(b[0]) + ", функція " + std::to_string(function);
  if ((function & kExceptionFlag) != 0) {
    modbusbox decoder(0);
    decoder.last_function = static_cast<uint8_t>(function & ~kExceptionFlag);
    decoder.error_code = b[2] >= 1 && b[2] <= 8 ? b[2] : modbusbox::kErrorOtherException + b[2];
    decoder.BuildErrorText();
    return text + ", виняток " + std::to_string(b[2]) + ": " + decoder.ErrorText();
  }
  if (function == kModbusRead) {
    const size_t data = b[2];
    if (b.size() < data + 5)
      return text + ", неповна";
    if (FrameChecksum(b.data(), static_cast<uint32_t>(data + 5)) != 0)
      return text + ", КС невірна";
    std::vector<uint16_t> values(data / 2);
    for (size_t i = 0; i < values.size(); ++i)
      values[i] = GetWordBE(&b[3 + 2 * i]);
    return text + ", " + std::to_string(data) + " байт, " +
           RegisterRange(frame.first, static_cast<uint16_t>(values.size())) +
           DescribeRegisters(frame.first, values);
  }
  if (function == kModbusWrite && b.size() >= 8)
    return text + ", записано " + RegisterRange(GetWordBE(&b[2]), GetWordBE(&b[4]));
  return text;
}

std::string DescribeOutcome(const TapFrame& frame) {
  std::string text = frame.retry ? "повтор, " : "";
  if (frame.outcome == TapOutcome::kAnswered)
    return text + "відповідь за " + Ms(frame.round_trip_us) + " мс";
  text += TapOutcomeName(frame.outcome);
  if (frame.outcome == TapOutcome::kException && frame.round_trip_us > 0)
    text += " за " + Ms(frame.round_trip_us) + " мс";
  if (frame.error_code != 0)
    text += ", код " + std::to_string(frame.error_code);
  if (!frame.error_text.empty()) {
    std::string one_line = frame.error_text;
    for (char& c : one_line)
      if (c == '\r' || c == '\n')
        c = ' ';
    text += ": " + one_line;
  }
  return text;
}

// The reference speaks text: shown as it reads, line ends and other control bytes escaped.
std::string DescribeReferenceText(const TapFrame& frame) {
  std::string text;
  for (uint8_t b : frame.bytes) {
    if (b == '\r')
      text += "\\r";
    else if (b == '\n')
      text += "\\n";
    else if (b < 0x20 || b == 0x7F)
      text += "\\x" + Hex2(b);
    else
      text += static_cast<char>(b);
  }
  if (frame.direction == TapDirection::kReceived)
    return "«" + text + "»";
  return (frame.function == ReferenceBox::kTapCommand ? "команда «" : "запит «") + text + "»";
}

std::string CsvField(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"')
      out += '"';
    out += c;
  }
  return out + '"';
}

}  // namespace

std::string TapFloatText(float value) {
  // Shortest form of the float itself, not of its double: seven significant digits would show
  // 3F800001 as 1, the same as 3F800000.
  // Ordinary magnitudes read better without an exponent, even where one would be shorter.
  const float magnitude = std::fabs(value);
  const bool ordinary = magnitude == 0.0f || (magnitude >= 1e-6f && magnitude < 1e9f);
  char text[64];
  const std::to_chars_result end =
      ordinary ? std::to_chars(text, text + sizeof text, value, std::chars_format::fixed)
               : std::to_chars(text, text + sizeof text, value);
  return std::string(text, end.ptr);
}

const char* TapProtocolName(TapProtocol protocol) {
  switch (protocol) {
    case TapProtocol::kCorrector:
      return "Коректор";
    case TapProtocol::kModbus:
      return "Modbus";
    default:
      return "Еталон";
  }
}

const char* TapDirectionMark(TapDirection direction) {
  switch (direction) {
    case TapDirection::kSent:
      return "->";
    case TapDirection::kReceived:
      return "<-";
    default:
      return "==";
  }
}

const char* TapOutcomeName(TapOutcome outcome) {
  switch (outcome) {
    case TapOutcome::kPending:
      return "";
    case TapOutcome::kAnswered:
      return "відповідь";
    case TapOutcome::kTimeout:
      return "тайм-аут";
    case TapOutcome::kChecksum:
      return "КС";
    case TapOutcome::kException:
      return "виняток";
    case TapOutcome::kAborted:
      return "перервано";
    case TapOutcome::kLinkLost:
      return "зв'язок втрачено";
    default:
      return "помилка";
  }
}

bool TapOutcomeIsError(TapOutcome outcome) {
  return outcome != TapOutcome::kPending && outcome != TapOutcome::kAnswered;
}

std::string TapHex(const TapFrame& frame) {
  std::string text;
  text.reserve(frame.bytes.size() * 3);
  for (size_t i = 0; i < frame.bytes.size(); ++i) {
    if (i > 0)
      text += ' ';
    text += frame.Masked(i) ? std::string("**") : Hex2(frame.bytes[i]);
  }
  return text;
}

std::string DescribeTapFrame(const TapFrame& frame) {
  if (frame.protocol == TapProtocol::kReference && frame.direction != TapDirection::kOutcome)
    return DescribeReferenceText(frame);
  const bool corrector = frame.protocol == TapProtocol::kCorrector;
  switch (frame.direction) {
    case TapDirection::kSent:
      return corrector ? DescribeCorrectorSent(frame) : DescribeModbusSent(frame);
    case TapDirection::kReceived:
      return corrector ? DescribeCorrectorReceived(frame) : DescribeModbusReceived(frame);
    default:
      return DescribeOutcome(frame);
  }
}

std::string TapTimeMs(const TapFrame& frame) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", static_cast<double>(frame.time_us) / 1000.0);
  return text;
}

std::string FormatTapLine(const TapFrame& frame) {
  std::string text = TapTimeMs(frame) + ' ' + TapDirectionMark(frame.direction) + ' ' +
                     TapProtocolName(frame.protocol);
  if (frame.direction != TapDirection::kOutcome && !frame.bytes.empty())
    text += " [" + TapHex(frame) + "]";
  return text + ' ' + DescribeTapFrame(frame);
}

std::string TapCsvHeader() {
  return "time_ms,direction,protocol,outcome,bytes,summary";
}

std::string FormatTapCsv(const TapFrame& frame) {
  return TapTimeMs(frame) + ',' + CsvField(TapDirectionMark(frame.direction)) + ',' +
         CsvField(TapProtocolName(frame.protocol)) + ',' + CsvField(TapOutcomeName(frame.outcome)) +
         ',' + CsvField(TapHex(frame)) + ',' + CsvField(DescribeTapFrame(frame));
}

std::string FormatLinkStats(TapProtocol protocol, const LinkStats& s) {
  char times[160];
  std::snprintf(times, sizeof times, "%.1f/%.1f/%.1f/%.1f", s.round_trip_min_us / 1000.0,
                s.MeanMs(), s.P95Ms(), s.round_trip_max_us / 1000.0);
  std::string text =
      std::string(TapProtocolName(protocol)) + ": запитів " + std::to_string(s.requests) +
      ", відповідей " + std::to_string(s.answered) + ", тайм-аутів " + std::to_string(s.timeouts) +
      ", КС " + std::to_string(s.checksum_errors) + ", винятків " + std::to_string(s.exceptions) +
      ", інших " + std::to_string(s.other_errors) + ", повторів " + std::to_string(s.retries) +
      ", цикл мін/сер/p95/макс " + times + " мс";
  if (!s.last_error.empty())
    text += "; остання помилка: " + s.last_error;
  return text;
}
