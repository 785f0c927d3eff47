#include "comm/calcbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/suplfunc.h"
#include "sim/virtual_line.h"
#include "tests/support/scripted_device.h"
#include "tests/support/scripted_host.h"
#include "tests/support/sealed_frame.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Completes a frame: length byte 2 and the checksum.
Bytes Frame(Bytes head) {
  head[2] = static_cast<uint8_t>(head.size() + 2);
  return Sealed(std::move(head));
}

Bytes Identification(uint8_t address, uint8_t sw, uint8_t plate, uint8_t flags) {
  Bytes b(163, 0);
  b[0] = 0x55;
  b[1] = address;
  b[3] = 1;
  b[63] = sw;
  b[69] = plate;
  b[162] = flags;
  return Frame(b);
}

Bytes Imitation(uint8_t address, uint8_t state_byte) {
  Bytes b(24, 0);
  b[0] = 0x66;
  b[1] = address;
  b[3] = 0x88;
  b[5] = state_byte;
  return Frame(b);
}

Bytes Ack(uint8_t address, uint8_t function) {
  return Frame({0x66, address, 0, static_cast<uint8_t>(function | 0x80)});
}

Bytes Refusal(uint8_t address, uint8_t function, uint8_t code, uint8_t pipeline, uint8_t detail) {
  return Frame({0x66, address, 0, function, code, pipeline, detail});
}

class CalcboxTest : public ::testing::Test {
 protected:
  CalcboxTest() : line(clock, &device), box(1) {
    box.port_handle = &line;
    box.clock = &clock;
    box.ui = &ui;
    box.status_panel = &panel;
  }

  bool Identify() { return box.Exchange(0xAA, 1, nullptr, 0); }
  // When the reply time-outs of the last transaction started: right after RTS was dropped.
  uint64_t ListenStart() const { return line.rts_changes().back().at; }

  VirtualClock clock;
  ScriptedDevice device;
  VirtualLine line;
  ScriptedHost ui;
  RecordingPanel panel;
  calcbox box;
};

TEST_F(CalcboxTest, IdentificationRequestIsTheKnownFrameAfterItsPreambles) {
  for (uint8_t preambles : {0, 5, 25}) {
    line.ClearLog();
    box.preambles = preambles;
    device.Then(ScriptedDevice::Reply(Identification(1, 0, 0, 0)));
    ASSERT_TRUE(Identify()) << box.ErrorText();
    Bytes expected(preambles, 0xFF);
    expected.insert(expected.end(), {0xAA, 0x01, 0x06, 0x01, 0xB2, 0x5C});
    EXPECT_EQ(line.written(), expected) << int(preambles) << " preambles";
    EXPECT_EQ(line.purges(), 1u);
  }
  EXPECT_EQ(panel.texts,
            (std::vector<std::string>{"Обмін ЛУТАР", "", "Обмін ЛУТАР", "", "Обмін ЛУТАР", ""}));
}

TEST_F(CalcboxTest, PasswordRequestsCarryLinePasswordsAndCodesInPlace) {
  box.preambles = 0;
  box.address = 3;
  const std::string wp = "ABCDEFGHIJKL";
  const std::string uc = "wxyz";
  const std::string cp = "0123456789abcdef";
  std::memcpy(box.write_password.data(), wp.data(), box.write_password.size());
  std::memcpy(box.user_code.data(), uc.data(), box.user_code.size());
  std::memcpy(box.const_password.data(), cp.data(), box.const_password.size());
  const auto with = [](Bytes head, const std::string& field) {
    head.insert(head.end(), field.begin(), field.end());
    return head;
  };
  const auto zeros = [](Bytes head, size_t n) {
    head.insert(head.end(), n, 0);
    return head;
  };
  const auto sent = [&](uint8_t function, const Bytes& args) {
    line.ClearLog();
    device.Then(ScriptedDevice::Silence());
    EXPECT_FALSE(box.Exchange(0xBB, function, args.data(), static_cast<int>(args.size())));
    EXPECT_EQ(box.error_code, 6);
    return line.written();
  };

  // Function 8: line, write password, user code.
  const Bytes f8 = Frame(with(with({0xBB, 3, 0, 8, 2}, wp), uc));
  EXPECT_EQ(f8.size(), 23u);
  EXPECT_EQ(sent(8, {2}), f8);
  EXPECT_EQ(box.expected_length, 26);
  EXPECT_EQ(box.expected_start, 0x66);

  // Function 17: the same layout.
  Bytes f17 = with(with({0xBB, 3, 0, 17, 1}, wp), uc);
  EXPECT_EQ(sent(17, {1}), Frame(f17));
  EXPECT_EQ(box.expected_length, 6);

  // Function 16 without the constants password: 29 bytes, extra byte at 22.
  Bytes f16 = with(with({0xBB, 3, 0, 16, 3, 1}, wp), uc);
  f16.push_back(0x5A);
  f16 = zeros(f16, 4);
  EXPECT_EQ(Frame(f16).size(), 29u);
  EXPECT_EQ(sent(16, {3, 1, 0x5A}), Frame(f16));
  EXPECT_EQ(box.expected_length, 6);

  // With the constants password: 46 bytes, password at 22, extra byte at 38.
  box.const_password_required = true;
  Bytes f16c = with(with(with({0xBB, 3, 0, 16, 3, 1}, wp), uc), cp);
  f16c.push_back(0x5A);
  f16c = zeros(f16c, 5);
  EXPECT_EQ(Frame(f16c).size(), 46u);
  EXPECT_EQ(sent(16, {3, 1, 0x5A}), Frame(f16c));

  // Function 5 copies its one argument byte and expects 19 bytes back.
  line.ClearLog();
  device.Then(ScriptedDevice::Silence());
  const uint8_t arg = 0x77;
  EXPECT_FALSE(box.Exchange(0xAA, 5, &arg, 1));
  EXPECT_EQ(line.written(), Frame({0xAA, 3, 0, 5, 0x77}));
  EXPECT_EQ(box.expected_length, 19);
  EXPECT_EQ(box.expected_start, 0x55);
}

TEST_F(CalcboxTest, MissingArgumentBytesGoOutAsZero) {
  box.preambles = 0;
  device.Then(ScriptedDevice::Silence());
  const uint8_t line_only = 2;
  EXPECT_FALSE(box.Exchange(0xBB, 16, &line_only, 1));
  ASSERT_EQ(line.written().size(), 29u);
  EXPECT_EQ(line.written()[4], 2);
  EXPECT_EQ(line.written()[5], 0);
  EXPECT_EQ(line.written()[22], 0);
}

TEST_F(CalcboxTest, WrongStartOrFunctionSendsNothing) {
  struct Case {
    uint8_t start;
    uint8_t function;
    int code;
    const char* text;
  };
  const Case cases[] = {
      {0x00, 1, 1, "Невірно заданий стартовий символ"},
      {0x55, 8, 1, "Невірно заданий стартовий символ"},
      {0xAA, 8, 2, "Невірно заданий код функції"},
      {0xAA, 0, 2, "Невірно заданий код функції"},
      {0xBB, 1, 2, "Невірно заданий код функції"},
      {0xBB, 9, 2, "Невірно заданий код функції"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(box.Exchange(c.start, c.function, nullptr, 0));
    EXPECT_EQ(box.error_code, c.code);
    EXPECT_EQ(box.ErrorText(), c.text);
  }
  EXPECT_TRUE(line.written().empty());
  EXPECT_EQ(line.purges(), 0u);
  EXPECT_TRUE(panel.texts.empty());
  EXPECT_EQ(ui.process_calls, 0);
}

TEST_F(CalcboxTest, SearchAddressAdoptsTheFirstReplyingCorrector) {
  box.address = 255;
  box.preambles = 0;
  device.Then(ScriptedDevice::Reply(Identification(7, 0, 0, 0)));
  ASSERT_TRUE(Identify()) << box.ErrorText();
  EXPECT_EQ(box.address, 7);
  EXPECT_EQ(line.written()[1], 255);

  line.ClearLog();
  device.Then(ScriptedDevice::Reply(Imitation(7, 0)));
  const uint8_t line_no = 1;
  ASSERT_TRUE(box.Exchange(0xBB, 8, &line_no, 1)) << box.ErrorText();
  EXPECT_EQ(line.written()[1], 7);
}

TEST_F(CalcboxTest, SearchAddressIsAdoptedOnlyFromAReplyThatChecks) {
  box.address = 255;
  box.preambles = 0;
  box.tries = 2;
  Bytes corrupted = Identification(9, 0, 0, 0);
  corrupted[100] ^= 0x40;
  device.Then(ScriptedDevice::Reply(corrupted));
  device.Then(ScriptedDevice::Reply(Identification(7, 0, 0, 0)));
  ASSERT_TRUE(Identify()) << box.ErrorText();
  EXPECT_EQ(box.address, 7);
  // Both transactions searched: the corrupted frame did not lend its address to the retry.
  ASSERT_EQ(device.requests.size(), 2u);
  EXPECT_EQ(device.requests[1][1], 255);

  box.address = 255;
  box.tries = 1;
  device.Then(ScriptedDevice::Reply(corrupted));
  EXPECT_FALSE(Identify());
  EXPECT_EQ(box.error_code, 9);
  EXPECT_EQ(box.address, 255);
}

TEST_F(CalcboxTest, ReplyIsFoundBehindNoise) {
  // The first 0x55 is followed by a foreign address and is dropped together with it; a length
  // byte below 6 also starts the search again.
  device.Then(ScriptedDevice::NoiseThen({0x00, 0x55, 0x12, 0x55, 0x01, 0x03, 0xFF},
                                        Identification(1, 0x21, 0x05, 0), 1000, 500));
  ASSERT_TRUE(Identify()) << box.ErrorText();
  EXPECT_EQ(box.sw_version, 0x21);
  EXPECT_EQ(box.plate, 0x05);
  EXPECT_EQ(box.address, 1);
}

TEST_F(CalcboxTest, IdentificationKeepsVersionPlateAndPasswordFlag) {
  device.Then(ScriptedDevice::Reply(Identification(1, 0x2A, 0x11, 0x81)));
  ASSERT_TRUE(Identify());
  EXPECT_EQ(box.sw_version, 0x2A);
  EXPECT_EQ(box.plate, 0x11);
  EXPECT_TRUE(box.const_password_required);

  device.Then(ScriptedDevice::Reply(Identification(1, 0x2B, 0x12, 0x7F)));
  ASSERT_TRUE(Identify());
  EXPECT_EQ(box.sw_version, 0x2B);
  EXPECT_FALSE(box.const_password_required);

  // A reply of the wrong length leaves them alone.
  Bytes wrong = Identification(1, 0x99, 0x99, 0x80);
  wrong[2] = 164;
  wrong.pop_back();
  wrong.pop_back();
  wrong.pop_back();
  device.Then(ScriptedDevice::Reply(Frame(wrong)));
  EXPECT_FALSE(Identify());
  EXPECT_EQ(box.error_code, 10);
  EXPECT_EQ(box.sw_version, 0x2B);
  EXPECT_EQ(box.plate, 0x12);
  EXPECT_FALSE(box.const_password_required);
}

TEST_F(CalcboxTest, SilentLineEndsWithCode6OneTickAfterTheTimeout) {
  EXPECT_FALSE(Identify());
  EXPECT_EQ(box.error_code, 6);
  EXPECT_EQ(box.ErrorText(), "Пристрій не відповідає");
  EXPECT_EQ(clock.Counter(), ListenStart() + 5'000'000 + 1);

  // A lone start byte is still no answer.
  box.first_byte_timeout = 700;
  device.Then(ScriptedDevice::Reply({0x55}, 100'000));
  EXPECT_FALSE(Identify());
  EXPECT_EQ(box.error_code, 6);
  EXPECT_EQ(clock.Counter(), ListenStart() + 700'000 + 1);

  // Reads that fail are no bytes: the reply on the line is never seen.
  line.set_fail_reads(true);
  device.Then(ScriptedDevice::Reply(Identification(1, 0, 0, 0)));
  EXPECT_FALSE(Identify());
  EXPECT_EQ(box.error_code, 6);
  EXPECT_EQ(clock.Counter(), ListenStart() + 700'000 + 1);
}

TEST_F(CalcboxTest, ReplyCutShortEndsWithCode8OneTickAfterTheGap) {
  Bytes cut = Imitation(1, 0);
  cut.resize(10);
  // Later than the RTS hold of the request, so each byte is taken when it arrives.
  device.Then(ScriptedDevice::Reply(cut, 300'000, 1000));
  const uint8_t line_no = 1;
  EXPECT_FALSE(box.Exchange(0xBB, 8, &line_no, 1));
  EXPECT_EQ(box.error_code, 8);
  EXPECT_EQ(box.ErrorText(), "Відповідь отримана не повністю (перевищено час поміж байтами)");
  const uint64_t last_byte = line.write_times()[0] + 300'000 + 9 * 1000;
  EXPECT_EQ(clock.Counter(), last_byte + 300'000 + 1);
}

TEST_F(CalcboxTest, SlowReplyEndsWithCode7OneTickAfterTheDeadline) {
  // Bytes 200 ms apart never break the 300 ms gap, but the whole reply takes too long.
  device.Then(ScriptedDevice::Reply(Identification(1, 0, 0, 0), 0, 200'000));
  EXPECT_FALSE(Identify());
  EXPECT_EQ(box.error_code, 7);
  EXPECT_EQ(box.ErrorText(), "Вирпано час очикування відповіді");
  EXPECT_EQ(clock.Counter(), ListenStart() + 5'000'000 + 1);

  // When the deadline comes before the gap is over, the deadline wins. (First let the rest of
  // the slow reply arrive, so that the purge clears it away.)
  clock.Advance(40'000'000);
  box.first_byte_timeout = 1000;
  Bytes cut = Identification(1, 0, 0, 0);
  cut.resize(10);
  device.Then(ScriptedDevice::Reply(cut, 850'000, 0));
  EXPECT_FALSE(Identify());
  EXPECT_EQ(box.error_code, 7);
  EXPECT_EQ(clock.Counter(), ListenStart() + 1'000'000 + 1);
}

TEST_F(CalcboxTest, ShortReplyToIdentificationEndsWithCode10) {
  Bytes b(17, 0);
  b[0] = 0x55;
  b[1] = 1;
  b[3] = 1;
  device.Then(ScriptedDevice::Reply(Frame(b)));
  EXPECT_FALSE(Identify());
  EXPECT_EQ(box.error_code, 10);
  EXPECT_EQ(box.ErrorText(), "Довжина відповіді (19) не відповідає очикуваній (165)");
}

TEST_F(CalcboxTest, ReplyChecksAreMadeInOrder) {
  // Wrong checksum first, even on a refusal.
  Bytes bad = Frame({0x55, 1, 0, 0xFF, 0});
  bad.back() ^= 0x01;
  device.Then(ScriptedDevice::Reply(bad));
  EXPECT_FALSE(Identify());
  EXPECT_EQ(box.error_code, 9);
  EXPECT_EQ(box.ErrorText(), "Неспівпадання КС відповіді пристрою");

  // Refusal of a plain request, whatever its length.
  device.Then(ScriptedDevice::Reply(Frame({0x55, 1, 0, 0xFF, 0})));
  EXPECT_FALSE(Identify());
  EXPECT_EQ(box.error_code, 11);
  EXPECT_EQ(box.ErrorText(), "Код функції у відповіді по AA дорівнює 0xFF");

  // Refusal of a password request is decoded from the corrector's error bytes.
  device.Then(ScriptedDevice::Reply(Refusal(1, 8, 52, 0, 0)));
  const uint8_t line_no = 1;
  EXPECT_FALSE(box.Exchange(0xBB, 8, &line_no, 1));
  EXPECT_EQ(box.error_code, 12);
  EXPECT_EQ(box.ErrorText(),
            "Т/п 1 не в режимi обслуговування або код каналу не вiдповiдає обмеженням");

  // An acknowledgement of some other function is a refusal too.
  device.Then(ScriptedDevice::Reply(Ack(1, 17)));
  EXPECT_FALSE(box.Exchange(0xBB, 16, &line_no, 1));
  EXPECT_EQ(box.error_code, 12);
}

TEST_F(CalcboxTest, ReplyClaimingTheLongestLengthStaysInsideTheBuffer) {
  // 0xFF as length: the frame ends at 255 bytes whatever keeps coming.
  Bytes flood = {0x55, 0x01, 0xFF};
  flood.resize(400, 0xEE);
  device.Then(ScriptedDevice::Reply(flood));
  EXPECT_FALSE(Identify());
  EXPECT_EQ(box.error_code, 9);

  Bytes longest(253, 0);
  longest[0] = 0x55;
  longest[1] = 1;
  longest[3] = 1;
  device.Then(ScriptedDevice::Reply(Frame(longest)));
  EXPECT_FALSE(Identify());
  EXPECT_EQ(box.error_code, 10);
  EXPECT_EQ(box.ErrorText(), "Довжина відповіді (255) не відповідає очикуваній (165)");
}

TEST_F(CalcboxTest, EachTryIsAFullTransactionWithItsOwnTimeout) {
  box.tries = 3;
  EXPECT_FALSE(Identify());
  EXPECT_EQ(box.error_code, 6);
  ASSERT_EQ(line.write_times().size(), 3u);
  EXPECT_EQ(line.purges(), 3u);
  const uint64_t hold = 100'000;  // 11 bytes at 1200 bit/s, plus one byte
  // Before a try after a time-out the line must have been quiet for the byte gap (300 ms), so
  // that a reply coming late is not taken for the next one's.
  for (size_t i = 1; i < 3; ++i) {
    EXPECT_EQ(line.write_times()[i] - line.write_times()[i - 1],
              hold + 1 + 5'000'000 + 1 + 300'000);
  }
  EXPECT_EQ(clock.Counter(), ListenStart() + 5'000'000 + 1);
  EXPECT_EQ(panel.texts, (std::vector<std::string>{"Обмін ЛУТАР", ""}));

  // A later try that gets its answer ends the exchange.
  line.ClearLog();
  device.Then(ScriptedDevice::Silence()).Then(ScriptedDevice::Reply(Identification(1, 4, 5, 0)));
  EXPECT_TRUE(Identify());
  EXPECT_EQ(line.write_times().size(), 2u);
  EXPECT_EQ(box.error_code, 0);

  // No tries at all would report an unsent request as answered: one is always made.
  line.ClearLog();
  box.tries = 0;
  EXPECT_FALSE(Identify());
  EXPECT_EQ(box.error_code, 6);
  EXPECT_EQ(line.write_times().size(), 1u);
}

TEST_F(CalcboxTest, AbortDuringTheWaitEndsAtTheNextPassWithoutFurtherTries) {
  box.tries = 3;
  uint64_t pressed_at = 0;
  ui.on_process = [&] {
    if (pressed_at == 0 && !line.write_times().empty() &&
        clock.Counter() >= line.write_times()[0] + 1'000'000) {
      pressed_at = clock.Counter();
      box.abort_requested = true;
    }
  };
  EXPECT_FALSE(Identify());
  EXPECT_EQ(box.error_code, 13);
  EXPECT_EQ(box.ErrorText(), "Обмін перервано на вимогу оператора");
  EXPECT_FALSE(box.abort_requested);
  EXPECT_EQ(line.write_times().size(), 1u);
  EXPECT_EQ(clock.Counter(), pressed_at);
  EXPECT_EQ(panel.texts.back(), "");

  // Set before the exchange: nothing is sent at all.
  line.ClearLog();
  ui.on_process = nullptr;
  box.abort_requested = true;
  EXPECT_FALSE(Identify());
  EXPECT_EQ(box.error_code, 13);
  EXPECT_TRUE(line.written().empty());
  EXPECT_FALSE(box.abort_requested);
}

TEST_F(CalcboxTest, RtsIsHeldTenBitTimesPerByteSentPlusOneByte) {
  device.Then(ScriptedDevice::Reply(Identification(1, 0, 0, 0)));
  ASSERT_TRUE(Identify());
  ASSERT_EQ(line.rts_changes().size(), 2u);
  EXPECT_TRUE(line.rts_changes()[0].on);
  EXPECT_FALSE(line.rts_changes()[1].on);
  EXPECT_EQ(line.rts_changes()[0].at, line.write_times()[0]);
  // 5 preambles + 6 bytes + 1 at 1200 bit/s: 100 ms, dropped on the first tick past it.
  EXPECT_EQ(line.rts_changes()[1].at - line.rts_changes()[0].at, 100'001u);

  // The hold is truncated to whole ticks: 1041.67 us at 115200 bit/s.
  line.ClearLog();
  box.baud_rate = 115200;
  device.Then(ScriptedDevice::Reply(Identification(1, 0, 0, 0)));
  ASSERT_TRUE(Identify());
  EXPECT_EQ(line.rts_changes()[1].at - line.rts_changes()[0].at, 1042u);

  // Without RTS switching the time-out runs from the write.
  line.ClearLog();
  box.rts_switching = false;
  EXPECT_FALSE(Identify());
  EXPECT_TRUE(line.rts_changes().empty());
  EXPECT_EQ(clock.Counter(), line.write_times()[0] + 5'000'000 + 1);
}

TEST_F(CalcboxTest, FailedWriteEndsWithCode4AndLeavesRtsRaised) {
  line.set_fail_writes(true);
  EXPECT_FALSE(Identify());
  EXPECT_EQ(box.error_code, 4);
  EXPECT_EQ(box.ErrorText(), "Сбій при виконанні операції запису");
  ASSERT_EQ(line.rts_changes().size(), 1u);
  EXPECT_TRUE(line.rts_changes()[0].on);
}

TEST_F(CalcboxTest, IdleWaitsAreNoLongerThan20Milliseconds) {
  box.first_byte_timeout = 1000;
  const int before = ui.process_calls;
  EXPECT_FALSE(Identify());
  // One pass before sending, one per 10 ms of the 100 ms RTS hold while more than 15 ms of it
  // are left, then one per 20 ms of the second's wait (the last one short).
  EXPECT_EQ(ui.process_calls - before, 1 + 9 + 51);
}

// ---- Service commands ----

// A corrector line whose state follows the service requests after a number of polls.
class CommandsTest : public CalcboxTest {
 protected:
  CommandsTest() {
    device.responder = [this](const Bytes& request, size_t) {
      const uint8_t function = request[box.preambles + 3];
      ++requests_by_function[function];
      if (silent)
        return ScriptedDevice::Silence();
      switch (function) {
        case 1:
          return ScriptedDevice::Reply(Identification(1, 0, 0, 0));
        case 8:
          if (polls_until_change > 0 && --polls_until_change == 0)
            state = target;
          return ScriptedDevice::Reply(Imitation(1, state));
        case 16:
          target = 3;
          return ScriptedDevice::Reply(Ack(1, 16));
        case 17:
          target = 0;
          return ScriptedDevice::Reply(Ack(1, 17));
      }
      return ScriptedDevice::Silence();
    };
  }

  // The polls after the mode request went on until `limit_ms` had passed and no further: the
  // last one began from a check at or before the deadline, and the one after it came too late.
  // The deadline was taken when the request's exchange ended, 100 ms before the first poll.
  void ExpectPolledFor(const VirtualLine& on, VirtualClock& time, uint64_t limit_ms) {
    ASSERT_GE(on.write_times().size(), 2u);
    const uint64_t base = on.write_times()[1] - 100'000;
    const uint64_t limit = limit_ms * 1000;
    EXPECT_LT(on.write_times().back() - 100'000, base + limit + 1000);
    EXPECT_GT(time.Counter(), base + limit);
  }

  uint8_t state = 0;
  uint8_t target = 0;
  int polls_until_change = 1;  // 0: never changes
  bool silent = false;
  std::map<uint8_t, int> requests_by_function;
};

TEST_F(CommandsTest, EnterConfirmedAtTheFirstPollTakesOnePause) {
  ASSERT_TRUE(box.EnterService(2, 1, 0));
  EXPECT_EQ(box.service_state, 3);
  ASSERT_EQ(line.write_times().size(), 2u);
  // The enter request's reply is there as soon as RTS drops; the poll follows 100 ms later.
  const uint64_t enter_done = line.rts_changes()[1].at;
  EXPECT_EQ(line.write_times()[1], enter_done + 100'000);
  EXPECT_EQ(device.requests[1][box.preambles + 3], 8);
  EXPECT_EQ(device.requests[1][box.preambles + 4], 2);
  EXPECT_EQ(ui.cursor_changes, (std::vector<bool>{true, false}));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_TRUE(ui.questions.empty());
}

TEST_F(CommandsTest, PauseBetweenPollsProcessesNoMessages) {
  polls_until_change = 3;
  std::vector<uint64_t> processed_at;
  ui.on_process = [&] { processed_at.push_back(clock.Counter()); };
  ASSERT_TRUE(box.EnterService(1, 0, 0));
  EXPECT_EQ(requests_by_function[8], 3);
  // Each poll is written 100 ms after the exchange before it ended; nothing is processed
  // in between.
  ASSERT_EQ(line.write_times().size(), 4u);
  for (size_t i = 1; i < 4; ++i) {
    const uint64_t poll = line.write_times()[i];
    for (uint64_t at : processed_at)
      EXPECT_FALSE(at > poll - 100'000 && at < poll) << at;
  }
}

TEST_F(CommandsTest, LeaveThatIsNeverConfirmedGivesUpAfter30Seconds) {
  state = 3;
  polls_until_change = 0;
  EXPECT_FALSE(box.LeaveService(1));
  ExpectPolledFor(line, clock, 30'000);
  EXPECT_GT(requests_by_function[8], 50);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Коректор не підтвердив\rзняття з обслуговування ");
  EXPECT_EQ(ui.messages[0].caption, "");
  EXPECT_EQ(ui.cursor_changes, (std::vector<bool>{true, false}));
  EXPECT_EQ(box.service_state, 3);
}

TEST_F(CommandsTest, EnterThatIsNeverConfirmedGivesUpAfter60Seconds) {
  polls_until_change = 0;
  EXPECT_FALSE(box.EnterService(1, 0, 0));
  ExpectPolledFor(line, clock, 60'000);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text,
            "Коректор не підтвердив\rперехід на ообслуговування данного каналу");
}

TEST_F(CommandsTest, PollingSurvivesTheTickCountWrapping) {
  clock.SetTickBase(0xFFFFFFFFu - 1000u);
  state = 3;
  polls_until_change = 0;
  EXPECT_FALSE(box.LeaveService(1));
  ExpectPolledFor(line, clock, 30'000);

  // Confirmation arriving after the wrap is still seen.
  VirtualClock fresh;
  fresh.SetTickBase(0xFFFFFFFFu - 1000u);
  VirtualLine fresh_line(fresh, &device);
  box.clock = &fresh;
  box.port_handle = &fresh_line;
  state = 3;
  polls_until_change = 50;  // about 6 s of polling
  EXPECT_TRUE(box.LeaveService(1));
  EXPECT_EQ(box.service_state, 0);
  EXPECT_LT(fresh.TickCount(), 0xFFFFFFFFu - 1000u);  // wrapped
}

TEST_F(CommandsTest, RefusedEnterAsksAndEndsQuietlyOnNo) {
  device.Then(ScriptedDevice::Reply(Refusal(1, 16, 85, 0, 0)));
  EXPECT_FALSE(box.EnterService(1, 0, 0));
  ASSERT_EQ(ui.questions.size(), 1u);
  EXPECT_EQ(ui.questions[0].line1, "Спроба поставити на обслуговування:");
  EXPECT_EQ(ui.questions[0].line2, "Обчислювач не в режимi обслуговування");
  EXPECT_EQ(ui.questions[0].line3, "Повторити спробу?");
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_TRUE(ui.cursor_changes.empty());
  EXPECT_EQ(line.write_times().size(), 1u);
}

TEST_F(CommandsTest, RefusedEnterRepeatsOnYes) {
  device.Then(ScriptedDevice::Reply(Refusal(1, 16, 85, 0, 0)));
  ui.answers = {true};
  EXPECT_TRUE(box.EnterService(1, 0, 0));
  EXPECT_EQ(ui.questions.size(), 1u);
  EXPECT_EQ(requests_by_function[16], 1);  // the refused one came from the script
  EXPECT_EQ(box.service_state, 3);
}

TEST_F(CommandsTest, AbortDuringIdentificationAsksNothing) {
  silent = true;
  ui.on_process = [&] {
    if (clock.Counter() > 1'000'000)
      box.abort_requested = true;
  };
  EXPECT_FALSE(box.ReadIdentification());
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(CommandsTest, FailedIdentificationAsksWithItsOwnFirstLine) {
  silent = true;
  ui.answers = {true, false};
  EXPECT_FALSE(box.ReadIdentification());
  ASSERT_EQ(ui.questions.size(), 2u);
  EXPECT_EQ(ui.questions[0].line1, "Запит на читання параметрів ідентифікації:");
  EXPECT_EQ(ui.questions[0].line2, "Пристрій не відповідає");
  EXPECT_EQ(requests_by_function[1], 2);
}

TEST_F(CommandsTest, AbortDuringPollingReportsNoConfirmation) {
  state = 3;
  polls_until_change = 0;
  ui.on_process = [&] {
    if (requests_by_function[8] == 3)
      box.abort_requested = true;
  };
  EXPECT_FALSE(box.LeaveService(1));
  EXPECT_TRUE(ui.questions.empty());
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Коректор не підтвердив\rзняття з обслуговування ");
}

TEST_F(CommandsTest, DeclinedPollRepeatReportsNoConfirmation) {
  device.Then(ScriptedDevice::Reply(Ack(1, 17))).Then(ScriptedDevice::Silence());
  EXPECT_FALSE(box.LeaveService(1));
  ASSERT_EQ(ui.questions.size(), 1u);
  EXPECT_EQ(ui.questions[0].line1, "Запит на читання параметрів імітації:");
  EXPECT_EQ(ui.questions[0].line2, "Пристрій не відповідає");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.cursor_changes, (std::vector<bool>{true, false}));
}

TEST_F(CommandsTest, ServiceStateKeepsOnlyTheLowThreeBits) {
  device.Then(ScriptedDevice::Reply(Imitation(1, 0x0B)));
  ASSERT_TRUE(box.ReadImitation(1));
  EXPECT_EQ(box.service_state, 3);

  // A failed read keeps the last state.
  silent = true;
  EXPECT_FALSE(box.ReadImitation(1));
  EXPECT_EQ(box.service_state, 3);
}

}  // namespace
