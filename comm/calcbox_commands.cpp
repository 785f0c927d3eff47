#include <cstdint>

#include "comm/calcbox.h"
#include "comm/repeat_while_asked.h"

namespace {

constexpr uint32_t kEnterConfirmMs = 60000;
constexpr uint32_t kLeaveConfirmMs = 30000;
constexpr uint32_t kPollPauseMs = 100;
constexpr uint8_t kStateMask = 0x07;  // byte 5 of the imitation reply: low three bits
constexpr int kImitationState = 5;

// Repeats the request for as long as the user asks to after a failure; a stop by the user
// ends it at once without asking. Refused codes are asked for again before the repeat: the
// same wrong ones would only be refused once more.
bool ExchangeWithRetry(calcbox& box, const char* what, uint8_t start, uint8_t function,
                       const uint8_t* args, int arg_count) {
  return RepeatWhileAsked(
      *box.ui, what, [&] { return ResultOf(box.Exchange(start, function, args, arg_count), box); },
      [&] { return !box.CodesRefused() || !box.request_new_codes || box.request_new_codes(box); });
}

// True while `now` has not gone past `deadline` on a millisecond count that wraps at 2^32.
bool NotPast(uint32_t now, uint32_t deadline) {
  return static_cast<int32_t>(now - deadline) <= 0;
}

// Polls the line's state until it becomes `wanted` or `limit_ms` has passed.
bool AwaitState(calcbox& box, uint8_t line, uint8_t wanted, uint32_t limit_ms) {
  const uint32_t deadline = box.clock->TickCount() + limit_ms;
  for (;;) {
    box.clock->Pause(kPollPauseMs);
    const bool read = box.ReadImitation(line);
    if (!read || box.service_state == wanted)
      return read;
    if (!NotPast(box.clock->TickCount(), deadline))
      return false;
  }
}

}  // namespace

bool calcbox::ReadIdentification() {
  return ExchangeWithRetry(*this, "Запит на читання параметрів ідентифікації:", kStartPlain,
                           kFunctionIdentification, nullptr, 0);
}

bool calcbox::ReadImitation(uint8_t line) {
  if (!ExchangeWithRetry(*this, "Запит на читання параметрів імітації:", kStartPassword,
                         kFunctionReadImitation, &line, 1)) {
    return false;
  }
  service_state = reply[kImitationState] & kStateMask;
  return true;
}

bool calcbox::EnterService(uint8_t line, uint8_t channel, uint8_t extra) {
  const uint8_t args[] = {line, channel, extra};
  service_entry_accepted = false;
  if (!ExchangeWithRetry(*this, "Спроба поставити на обслуговування:", kStartPassword,
                         kFunctionEnterService, args, 3)) {
    return false;
  }
  service_entry_accepted = true;
  ui->SetBusyCursor(true);
  const bool confirmed = AwaitState(*this, line, kStateService, kEnterConfirmMs);
  ui->SetBusyCursor(false);
  // A stop by the operator is no refusal of the corrector's; the caller undoes the entry.
  if (!confirmed && error_code != kErrorAborted) {
    ui->ShowMessage("Коректор не підтвердив\rперехід на ообслуговування данного каналу", "");
  }
  return confirmed;
}

bool calcbox::AwaitServiceEntry(uint8_t line) {
  return AwaitState(*this, line, kStateService, kEnterConfirmMs);
}

bool calcbox::LeaveService(uint8_t line) {
  if (!ExchangeWithRetry(*this, "Спроба зняти з обслуговування:", kStartPassword,
                         kFunctionLeaveService, &line, 1)) {
    return false;
  }
  ui->SetBusyCursor(true);
  const bool confirmed = AwaitState(*this, line, kStateNormal, kLeaveConfirmMs);
  ui->SetBusyCursor(false);
  if (!confirmed)
    ui->ShowMessage("Коректор не підтвердив\rзняття з обслуговування ", "");
  return confirmed;
}
