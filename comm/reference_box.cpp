#include "comm/reference_box.h"

#include <algorithm>
#include <cstdio>

#include "comm/exchange_steps.h"
#include "comm/reply_finder.h"

namespace {

constexpr char kCr = '\r';
constexpr char kLf = '\n';

bool IsLineEnd(uint8_t byte) {
  return byte == kCr || byte == kLf;
}

// Text instruments send: printable ASCII, tab, and 8-bit bytes (a degree sign in some code
// page). Any other control byte means noise or a wrong rate, never a reading.
bool IsTextByte(uint8_t byte) {
  return byte == '\t' || (byte >= 0x20 && byte != 0x7F);
}

void AppendShown(std::string& shown, uint8_t byte) {
  if (byte >= 0x20 && byte < 0x7F) {
    shown += static_cast<char>(byte);
    return;
  }
  char hex[8];
  std::snprintf(hex, sizeof hex, "\\x%02X", byte);
  shown += hex;
}

}  // namespace

bool ReferenceBox::Query(const std::string& command, std::string& reply) {
  reply.clear();
  return Exchange(kTapQuery, command, &reply);
}

bool ReferenceBox::Command(const std::string& command) {
  return Exchange(kTapCommand, command, nullptr);
}

bool ReferenceBox::Exchange(uint8_t tap_function, const std::string& command, std::string* reply) {
  const std::string block = command + line_end;
  error_code = 0;
  received_.clear();
  int attempt = 0;
  return RunTries(
      reply ? tries : 1,
      [&] {
        if (OperatorStopped(*ui, abort_requested, error_code, kErrorAborted))
          return false;
        if (port_handle == nullptr) {
          error_code = kErrorNoPort;
          return false;
        }
        if (tap)
          tap->BeginTransaction(TapProtocol::kReference, tap_function, 0, 0, 0, 0, 0, attempt > 0);
        ++attempt;
        const bool done = Transact(block, reply);
        if (tap)
          tap->EndTransaction(TapOutcomeOf(error_code), error_code, done ? "" : ErrorText());
        return done;
      },
      [&] { return error_code == kErrorAborted || error_code == kErrorLinkLost; });
}

bool ReferenceBox::Transact(const std::string& block, std::string* reply) {
  error_code = 0;
  DrainIfPending(drain_before_send_, *port_handle, *clock, next_byte_timeout, first_byte_timeout);
  const auto* bytes = reinterpret_cast<const uint8_t*>(block.data());
  if (!SendRequest(*port_handle, *clock, false, 0, bytes, block.size(), ui)) {
    error_code = port_handle->Gone() ? kErrorLinkLost : kErrorWriteFailed;
    return false;
  }
  if (reply == nullptr) {
    ListenQuietly();
    return true;
  }
  const bool done = CollectReply(*reply);
  // A line still on its way when the time-out ended must not answer the next query.
  drain_before_send_ =
      error_code == kErrorNoReply || error_code == kErrorCutShort || error_code == kErrorTooLong;
  return done;
}

bool ReferenceBox::CollectReply(std::string& reply) {
  const uint64_t frequency = clock->Frequency();
  const uint64_t start = clock->Counter();
  const uint64_t deadline = start + MsToTicks(first_byte_timeout, frequency);
  const uint64_t gap = MsToTicks(next_byte_timeout, frequency);
  uint64_t last_byte_time = start;
  bool started = false;
  bool garbage = false;

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
      last_byte_time = clock->Counter();
      if (IsLineEnd(byte)) {
        if (started)
          break;
        continue;
      }
      started = true;
      AppendShown(received_, byte);
      garbage = garbage || !IsTextByte(byte);
      if (reply.size() >= kMaxReply) {
        error_code = kErrorTooLong;
        return false;
      }
      reply += static_cast<char>(byte);
      continue;
    }
    const uint64_t limit = (started ? last_byte_time + gap : deadline) + 1;
    const uint64_t now = clock->Counter();
    if (now >= limit) {
      error_code = started ? kErrorCutShort : kErrorNoReply;
      return false;
    }
    WaitForReplyByte(*port_handle, now, limit, frequency);
  }
  if (garbage) {
    error_code = kErrorGarbage;
    reply.clear();
    return false;
  }
  return true;
}

void ReferenceBox::ListenQuietly() {
  if (command_quiet <= 0)
    return;
  const uint64_t frequency = clock->Frequency();
  const uint64_t quiet = MsToTicks(command_quiet, frequency);
  DrainLateInput(*port_handle, *clock, quiet, 4 * quiet);
}

std::string ReferenceBox::ErrorText() const {
  switch (error_code) {
    case 0:
      return {};
    case kErrorNoPort:
      return "порт еталона не відкрито";
    case kErrorNoReply:
      return "еталон не відповідає";
    case kErrorWriteFailed:
      return "збій при записі в порт еталона";
    case kErrorCutShort:
      return "відповідь еталона обірвалася (немає кінця рядка)";
    case kErrorGarbage:
      return "у відповіді еталона незрозумілі байти (перешкоди або інша швидкість)";
    case kErrorAborted:
      return "Обмін перервано на вимогу оператора";
    case kErrorTooLong:
      return "відповідь еталона задовга";
    case kErrorLinkLost:
      return "зв'язок з еталоном втрачено: порт зник (адаптер від'єднано?)";
    default:
      return "помилка обміну з еталоном " + std::to_string(error_code);
  }
}

TapOutcome ReferenceBox::TapOutcomeOf(int32_t code) {
  switch (code) {
    case 0:
      return TapOutcome::kAnswered;
    case kErrorNoReply:
    case kErrorCutShort:
      return TapOutcome::kTimeout;
    case kErrorAborted:
      return TapOutcome::kAborted;
    case kErrorLinkLost:
      return TapOutcome::kLinkLost;
    default:
      return TapOutcome::kOther;
  }
}
