#include "comm/modbusbox.h"
#include "comm/checksum.h"
#include "comm/exchange_steps.h"
#include "comm/reply_finder.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace {

constexpr uint8_t kReadFunction = 3;
constexpr uint8_t kWriteFunction = 16;
constexpr uint8_t kExceptionFlag = 0x80;
constexpr uint8_t kPreamble = 0xFF;

// Function 3 request: address, function, first register, count, checksum.
constexpr int kReadRequestLength = 8;
// Function 16 reply: address, function, first register, count, checksum.
constexpr int kWriteReplyLength = 8;
// Exception reply: address, function | 0x80, exception code, checksum.
constexpr int kExceptionReplyLength = 5;
// Function 3 reply: address, function and byte count before the data, checksum after it.
constexpr int kReadReplyOverhead = 5;

// The sensor's exception texts, by exception code 1 to 8.
const char* const kExceptionTexts[] = {
    "Прийнятий код функціі не може бути оброблений",
    "Адреса даних, вказана в запиті, недоступна\r(можливо версія ПО вашого пристрою є застарілою)",
    "Величина в полі даних запиту є недоступною",
    "Невідновлювальна помилка при виконанні затребуваного дійства",
    "Запит прийнятий, але виконування потрубує багато часу",
    "Пристрій зайнятий виконуванням іншої команди",
    "Запис заборонено.\rНатисніть кнопку дозволу",
    "Помилка паритету при спробі читання розширеної пам'яті",
};

// Local texts, by code 20 to 29.
const char* const kLocalTexts[] = {
    "СОМ-порт недоступний",
    "Пристрій не відповідає",
    "Невірно заданий код функціі",
    "Сбій при виконанні операції запису",
    "Сбій при виконанні операції читання",
    "Відповідь отримана не повністю (перевищено час поміж байтами)",
    "Функ.код відповіді не дорівнює функ.коду запиту",
    "Неспівпадання КС відповіді пристрою",
    "Обмін перервано на вимогу оператора",
    "Невідповідність даних у відповіді запрошуваним даним",
    "Зв'язок втрачено: порт зник (адаптер від'єднано?)",
};

// Ten bit times a byte and one bit more, so RTS drops just after the last stop bit.
uint64_t RtsHold(int32_t baud_rate, size_t bytes, uint64_t frequency) {
  if (baud_rate <= 0)
    return 0;
  const int bits = 10 * static_cast<int>(bytes) + 1;
  return static_cast<uint64_t>(static_cast<double>(BitTime(baud_rate)) * bits *
                               static_cast<double>(frequency));
}

bool IsKnownException(int code) {
  return code >= 1 && code <= 8;
}

FrameRule ModbusReplyRule(uint8_t address, uint8_t function) {
  return [address, function](const uint8_t* at, size_t available) {
    FrameView view;
    if (at[0] != address)
      return view;
    view.kind = FrameView::Kind::kMore;
    if (available < 2)
      return view;
    if (at[1] == static_cast<uint8_t>(function + kExceptionFlag)) {
      view.kind = FrameView::Kind::kFrame;
      view.length = kExceptionReplyLength;
    } else if (at[1] != function) {
      view.kind = FrameView::Kind::kNoStart;
      return view;
    } else if (function == kWriteFunction) {
      view.kind = FrameView::Kind::kFrame;
      view.length = kWriteReplyLength;
    } else if (available >= 3) {
      view.kind = FrameView::Kind::kFrame;
      view.length = static_cast<size_t>(at[2]) + kReadReplyOverhead;
      view.oversize = at[2] > modbusbox::kFrameSize - kReadReplyOverhead;
    }
    view.started = true;
    return view;
  };
}

}  // namespace

void PutWordBE(uint16_t value, uint8_t* dest) {
  dest[0] = static_cast<uint8_t>(value >> 8);
  dest[1] = static_cast<uint8_t>(value & 0xFFu);
}

uint16_t GetWordBE(const uint8_t* src) {
  return static_cast<uint16_t>((static_cast<unsigned>(src[0]) << 8) | src[1]);
}

modbusbox::modbusbox(uint8_t address) : address(address) {}

void modbusbox::RunRequest(uint8_t function, int length, const char* panel_text) {
  if (status_panel != nullptr) {
    status_panel->SetText(panel_text);
    ui->ProcessMessages();
  }
  attempt = 0;
  RunTries(
      tries, [&] { return Transact(function, length); },
      [&] { return error_code == kErrorAborted || error_code == kErrorLinkLost; });
  if (status_panel != nullptr) {
    status_panel->SetText("");
    ui->ProcessMessages();
  }
}

bool modbusbox::ReadRegisters(uint16_t first, uint16_t count) {
  request.fill(0);
  reply.fill(0);
  last_start = first;
  last_count = count;
  last_function = kReadFunction;

  // The reply to more than 125 registers could not be framed; the sensor refuses such a
  // count with exception 3, so the same answer is given here without sending anything.
  if (count > kMaxReadCount) {
    error_code = kErrorIllegalDataValue;
    BuildErrorText();
    return false;
  }

  request[0] = address;
  request[1] = kReadFunction;
  PutWordBE(first, &request[2]);
  PutWordBE(count, &request[4]);
  const uint16_t crc = FrameChecksum(request.data(), kReadRequestLength - 2);
  request[6] = static_cast<uint8_t>(crc & 0xFFu);  // checksum low byte first
  request[7] = static_cast<uint8_t>(crc >> 8);

  error_code = 0;
  RunRequest(kReadFunction, kReadRequestLength, " Обмін");
  if (error_code != 0) {
    BuildErrorText();
    return false;
  }
  if (reply[1] != kReadFunction || reply[2] != static_cast<uint8_t>(2 * count)) {
    error_code = kErrorMismatch;
    BuildErrorText();
    return false;
  }
  for (unsigned i = 0; i < count; ++i)
    values[i] = GetWordBE(&reply[3 + 2 * i]);
  return true;
}

bool modbusbox::WriteRegisters(uint16_t first, uint16_t count, const uint16_t* values) {
  request.fill(0);
  reply.fill(0);
  last_start = first;
  last_count = count;
  last_function = kWriteFunction;

  // Beyond 123 registers neither the byte count (one byte) nor the frame (256 bytes) holds
  // the data; refused as the sensor would refuse it.
  if (count > kMaxWriteCount || (count > 0 && values == nullptr)) {
    error_code = kErrorIllegalDataValue;
    BuildErrorText();
    return false;
  }

  const int length = 2 * count + 9;
  request[0] = address;
  request[1] = kWriteFunction;
  PutWordBE(first, &request[2]);
  PutWordBE(count, &request[4]);
  request[6] = static_cast<uint8_t>(2 * count);
  for (unsigned i = 0; i < count; ++i)
    PutWordBE(values[i], &request[7 + 2 * i]);
  const uint16_t crc = FrameChecksum(request.data(), static_cast<uint32_t>(length - 2));
  request[length - 2] = static_cast<uint8_t>(crc & 0xFFu);
  request[length - 1] = static_cast<uint8_t>(crc >> 8);

  error_code = 0;
  RunRequest(kWriteFunction, length, "Обмін...");
  if (error_code != 0) {
    BuildErrorText();
    return false;
  }
  if (reply[1] != kWriteFunction || GetWordBE(&reply[2]) != first ||
      GetWordBE(&reply[4]) != count) {
    error_code = kErrorMismatch;
    BuildErrorText();
    return false;
  }
  return true;
}

bool modbusbox::Transact(uint8_t function, int length) {
  if (OperatorStopped(*ui, abort_requested, error_code, kErrorAborted))
    return false;
  if (port_handle == nullptr) {
    error_code = kErrorNoPort;
    return false;
  }
  const bool retry = attempt++ > 0;
  if (tap == nullptr)
    return TransactFrame(function, length);
  tap->BeginTransaction(TapProtocol::kModbus, function, GetWordBE(&request[2]),
                        GetWordBE(&request[4]), preambles, 0, 0, retry);
  const bool done = TransactFrame(function, length);
  if (!done)
    BuildErrorText();
  tap->EndTransaction(TapOutcomeOf(error_code), error_code, done ? std::string() : error_text);
  return done;
}

TapOutcome modbusbox::TapOutcomeOf(int32_t code) {
  if (code == 0)
    return TapOutcome::kAnswered;
  if (IsKnownException(code) || code >= kErrorOtherException)
    return TapOutcome::kException;
  switch (code) {
    case kErrorNoReply:
    case kErrorByteGap:
      return TapOutcome::kTimeout;
    case kErrorChecksum:
      return TapOutcome::kChecksum;
    case kErrorAborted:
      return TapOutcome::kAborted;
    case kErrorLinkLost:
      return TapOutcome::kLinkLost;
    default:
      return TapOutcome::kOther;
  }
}

bool modbusbox::TransactFrame(uint8_t function, int length) {
  length = std::clamp(length, 0, static_cast<int>(kFrameSize));

  DrainIfPending(drain_before_send_, *port_handle, *clock, next_byte_timeout, first_byte_timeout);

  std::vector<uint8_t> block(preambles, kPreamble);
  block.insert(block.end(), request.begin(), request.begin() + length);

  const uint64_t frequency = clock->Frequency();
  if (!SendRequest(*port_handle, *clock, rts_switching, RtsHold(baud_rate, block.size(), frequency),
                   block.data(), block.size(), ui)) {
    error_code = port_handle->Gone() ? kErrorLinkLost : kErrorWriteFailed;
    return false;
  }

  const uint64_t t1 = clock->Counter();
  const uint64_t deadline = t1 + MsToTicks(first_byte_timeout, frequency);
  const uint64_t gap = MsToTicks(next_byte_timeout, frequency);
  // A function 3 reply is collected by the byte count it announces, so that its checksum
  // decides first: a corrupted count shows as code 27 and is tried again, while an intact
  // reply with another count than asked for is told apart after the transaction (29, not
  // retried: the sensor would answer the same). Only a count beyond what `reply` holds (up
  // to 260) cannot be collected; matching again inside that frame would wait out the
  // first-byte time-out and report a silent sensor that did answer, and failing at once
  // would start a retry while it may still be sending. So the rest of such a frame is let
  // pass unstored (to its announced end, or until the line has been quiet for the byte gap)
  // and the transaction ends with code 29.
  ReplyFinder finder(block.data(), block.size(), echo, ModbusReplyRule(address, function));
  uint64_t last_byte_time = t1;
  error_code = 0;

  for (;;) {
    if (OperatorStopped(*ui, abort_requested, error_code, kErrorAborted))
      return false;

    uint8_t byte = 0;
    const ReplyByte read = ReadReplyByteOrGone(*port_handle, byte);
    if (read == ReplyByte::kLineGone) {
      error_code = kErrorLinkLost;
      return false;
    }
    if (read == ReplyByte::kByte) {
      finder.Add(byte);
      if (finder.Found())
        break;
      last_byte_time = clock->Counter();
    } else {
      // Nothing yet: wait for a byte, but never past the moment the running time-out is
      // exceeded, so it is reported one tick after its limit.
      const bool by_gap = finder.InFrame() || finder.ChecksumFailed();
      const uint64_t limit = (by_gap ? last_byte_time + gap : deadline) + 1;
      const uint64_t now = clock->Counter();
      if (now < limit)
        WaitForReplyByte(*port_handle, now, limit, frequency);
    }

    const uint64_t now = clock->Counter();
    if (finder.InFrame()) {
      if (last_byte_time + gap < now)
        error_code = finder.OversizePending() ? kErrorMismatch : kErrorByteGap;
    } else if (finder.ChecksumFailed()) {
      // A whole frame came and failed; nothing that could replace it followed.
      if (last_byte_time + gap < now)
        error_code = kErrorChecksum;
    } else if (now > deadline) {
      error_code = kErrorNoReply;
    }
    if (error_code != 0)
      break;
  }

  if (finder.Found()) {
    const size_t stored = std::min(finder.FrameLength(), reply.size());
    std::copy_n(finder.Frame(), stored, reply.begin());
    if (finder.FrameOversize()) {
      error_code = kErrorMismatch;
    } else if (reply[1] == static_cast<uint8_t>(function + kExceptionFlag)) {
      // Codes 1-8 are the sensor's exceptions as they are; any other stays apart from the
      // local codes 20-29, which would make it a silent sensor or the operator's stop.
      const uint8_t exception = reply[2];
      error_code = IsKnownException(exception) ? exception : kErrorOtherException + exception;
    }
  }
  // A reply still on its way when the time-out ended must not answer the next request.
  drain_before_send_ = error_code == kErrorNoReply || error_code == kErrorByteGap;
  port_handle->Purge();
  return error_code == 0;
}

void modbusbox::BuildErrorText() {
  error_text.clear();
  const char* prefix = last_function == kReadFunction ? "Команда 3." : "Команда 16.";
  std::string text = prefix;
  if (IsKnownException(error_code)) {
    text += ' ';
    text += kExceptionTexts[error_code - 1];
  } else if (error_code >= 20 && error_code <= kErrorLinkLost) {
    text += ' ';
    text += kLocalTexts[error_code - 20];
  } else if (error_code >= kErrorOtherException && error_code <= kErrorOtherException + 0xFF) {
    text += " ? (виняток " + std::to_string(error_code - kErrorOtherException) + ")";
  } else {
    text += " ?";
  }
  error_text = text;
}
