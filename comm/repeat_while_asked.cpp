#include "comm/repeat_while_asked.h"

bool RepeatWhileAsked(ExchangeHost& host, const std::string& what,
                      const std::function<AttemptResult()>& attempt,
                      const std::function<bool()>& before_repeat) {
  for (;;) {
    const AttemptResult result = attempt();
    if (result.end == AttemptResult::End::kDone)
      return true;
    if (result.end == AttemptResult::End::kStopped) {
      if (!result.failure_text.empty())
        host.ShowMessage(what + "\r" + result.failure_text, "");
      return false;
    }
    if (!host.AskQuestion(what, result.failure_text, std::string("Повторити спробу?")))
      return false;
    if (before_repeat && !before_repeat())
      return false;
  }
}
