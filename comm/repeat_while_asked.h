#pragma once

#include <functional>
#include <string>

#include "comm/exchange_host.h"

// How one attempt of an operation that the user may have repeated ended.
struct AttemptResult {
  enum class End {
    kDone,
    kFailed,   // the user is asked whether to repeat it
    kStopped,  // by the operator, or nothing is left to run it on: ends it unasked
  };
  End end = End::kDone;
  std::string failure_text;  // of a failure: the second line of the question
};

// The result of an exchange object's last operation: its own "stopped by the operator" code
// is a stop, never a failure to ask about.
template <typename Box>
AttemptResult ResultOf(bool done, const Box& box) {
  if (done)
    return {AttemptResult::End::kDone, {}};
  if (box.error_code == Box::kErrorAborted)
    return {AttemptResult::End::kStopped, {}};
  // Asking to repeat on a port that is gone would only fail again.
  if (box.error_code == Box::kErrorLinkLost)
    return {AttemptResult::End::kStopped, box.ErrorText()};
  return {AttemptResult::End::kFailed, box.ErrorText()};
}

// Runs `attempt` until one is done. After a failure the user is asked `what`, the failure's
// text and "Повторити спробу?"; "Ні" ends it, and so does `before_repeat` (when set) answering
// false after a "Так". A stop ends it at once, telling its text once when it has one. True
// when an attempt was done.
bool RepeatWhileAsked(ExchangeHost& host, const std::string& what,
                      const std::function<AttemptResult()>& attempt,
                      const std::function<bool()>& before_repeat = {});
