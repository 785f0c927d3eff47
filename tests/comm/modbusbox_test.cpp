#include "comm/modbusbox.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/comm/modbusbox_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

// 19200 bit/s, 8-byte request: (10 * 8 + 1) bit times = 4218.75 us, whole ticks 4218.
constexpr uint64_t kReadHold = 4218;
constexpr uint64_t kFirstByteTicks = 2'000'000;  // default 2000 ms
constexpr uint64_t kGapTicks = 100'000;          // default 100 ms

class ModbusboxTest : public ModbusboxFixture {
 protected:
  // When RTS dropped, that is when the master finished sending, in the given transaction.
  uint64_t EndOfSending(size_t transaction = 0) const {
    return line.rts_changes().at(2 * transaction + 1).at;
  }
};

TEST_F(ModbusboxTest, ReadsOneRegisterWithTheKnownRequestFrame) {
  RecordingPanel panel;
  box.status_panel = &panel;
  Answer(Sealed({0x01, 0x03, 0x02, 0x01, 0x0C}));
  ASSERT_TRUE(box.ReadRegisters(59, 1)) << box.ErrorText();
  EXPECT_EQ(line.written(), (Bytes{0x01, 0x03, 0x00, 0x3B, 0x00, 0x01, 0xF5, 0xC7}));
  EXPECT_EQ(box.values[0], 0x010C);
  EXPECT_EQ(box.error_code, 0);
  EXPECT_EQ(panel.texts, (std::vector<std::string>{" Обмін", ""}));
  EXPECT_EQ(line.purges(), 2u);  // before sending and after the reply
  // RTS covers the frame and one bit more, then the reply is taken as its last byte arrives.
  ASSERT_EQ(line.rts_changes().size(), 2u);
  EXPECT_TRUE(line.rts_changes()[0].on);
  EXPECT_EQ(line.rts_changes()[1].at - line.rts_changes()[0].at, kReadHold + 1);
  EXPECT_EQ(clock.Counter(), device.last_answer_end);
}

TEST_F(ModbusboxTest, ReadsFourRegistersAndWritesFour) {
  Answer(Sealed({0x01, 0x03, 0x08, 0x00, 0x00, 0x3F, 0x80, 0x12, 0x34, 0xAB, 0xCD}));
  ASSERT_TRUE(box.ReadRegisters(436, 4)) << box.ErrorText();
  EXPECT_EQ(line.written(), Sealed({0x01, 0x03, 0x01, 0xB4, 0x00, 0x04}));
  EXPECT_EQ(device.last_answer_end, clock.Counter());  // complete at 13 bytes
  EXPECT_EQ(box.values[1], 0x3F80);
  EXPECT_EQ(box.values[3], 0xABCD);

  line.ClearLog();
  const uint16_t words[] = {0x0000, 0x3F80, 0x1234, 0xABCD};
  Answer(Sealed({0x01, 0x10, 0x01, 0xB4, 0x00, 0x04}));
  ASSERT_TRUE(box.WriteRegisters(436, 4, words)) << box.ErrorText();
  EXPECT_EQ(line.written(), Sealed({0x01, 0x10, 0x01, 0xB4, 0x00, 0x04, 0x08, 0x00, 0x00, 0x3F,
                                    0x80, 0x12, 0x34, 0xAB, 0xCD}));
  EXPECT_EQ(device.last_answer_end, clock.Counter());

  // The echo must name the register and count that were written.
  Answer(Sealed({0x01, 0x10, 0x01, 0xB5, 0x00, 0x04}));
  EXPECT_FALSE(box.WriteRegisters(436, 4, words));
  EXPECT_EQ(box.error_code, 29);
  EXPECT_EQ(box.ErrorText(), "Команда 16. Невідповідність даних у відповіді запрошуваним даним");
  Answer(Sealed({0x01, 0x10, 0x01, 0xB4, 0x00, 0x03}));
  EXPECT_FALSE(box.WriteRegisters(436, 4, words));
  EXPECT_EQ(box.error_code, 29);
}

TEST_F(ModbusboxTest, ExceptionRepliesGiveTheirCodeAndText) {
  Answer(Sealed({0x01, 0x83, 0x02}));
  EXPECT_FALSE(box.ReadRegisters(59, 1));
  EXPECT_EQ(box.error_code, 2);
  EXPECT_EQ(box.ErrorText(),
            "Команда 3. Адреса даних, вказана в запиті, недоступна\r(можливо версія ПО вашого "
            "пристрою є застарілою)");
  EXPECT_EQ(device.last_answer_end, clock.Counter());  // complete at 5 bytes

  Answer(Sealed({0x01, 0x90, 0x07}));
  const uint16_t word = 0;
  EXPECT_FALSE(box.WriteRegisters(436, 1, &word));
  EXPECT_EQ(box.ErrorText(), "Команда 16. Запис заборонено.\rНатисніть кнопку дозволу");

  // Any other exception code has its own text with its number and is never taken for a
  // local code: 21 is no silent sensor, 28 no operator's stop, 0 no success.
  Answer(Sealed({0x01, 0x83, 0x09}));
  EXPECT_FALSE(box.ReadRegisters(59, 1));
  EXPECT_EQ(box.error_code, modbusbox::kErrorOtherException + 9);
  EXPECT_EQ(box.ErrorText(), "Команда 3. ? (виняток 9)");
  Answer(Sealed({0x01, 0x83, 0x15}));
  EXPECT_FALSE(box.ReadRegisters(59, 1));
  EXPECT_NE(box.error_code, modbusbox::kErrorNoReply);
  EXPECT_EQ(box.ErrorText(), "Команда 3. ? (виняток 21)");
  Answer(Sealed({0x01, 0x83, 0x00}));
  EXPECT_FALSE(box.ReadRegisters(59, 1));
  EXPECT_EQ(box.ErrorText(), "Команда 3. ? (виняток 0)");
  Answer(Sealed({0x01, 0x90, 0x1C}));
  Answer(Sealed({0x01, 0x10, 0x01, 0xB4, 0x00, 0x01}));
  box.tries = 2;
  EXPECT_TRUE(box.WriteRegisters(436, 1, &word));  // exception 28 was tried again
  box.tries = 1;

  // An exception is retried like any other failure.
  box.tries = 2;
  Answer(Sealed({0x01, 0x83, 0x06}));
  Answer(Sealed({0x01, 0x03, 0x02, 0x00, 0x0C}));
  const size_t before = device.requests.size();
  EXPECT_TRUE(box.ReadRegisters(59, 1));
  EXPECT_EQ(device.requests.size(), before + 2);
}

TEST_F(ModbusboxTest, SilentLineEndsWithCode21OneTickAfterFirstByteTimeout) {
  EXPECT_FALSE(box.ReadRegisters(59, 1));
  EXPECT_EQ(box.error_code, 21);
  EXPECT_EQ(box.ErrorText(), "Команда 3. Пристрій не відповідає");
  EXPECT_EQ(clock.Counter(), EndOfSending() + kFirstByteTicks + 1);
  // The reply loop waits at most 20 ms per pass, and does wait in every pass: one pass before
  // sending, then one per 20 ms of the two seconds (the last one a tick long).
  EXPECT_EQ(ui.process_calls, 1 + 101);

  // One byte is not yet an answer: the first-byte time-out still runs.
  line.ClearLog();
  Answer({0x01});
  EXPECT_FALSE(box.ReadRegisters(59, 1));
  EXPECT_EQ(box.error_code, 21);
  EXPECT_EQ(clock.Counter(), EndOfSending() + kFirstByteTicks + 1);

  // A failing read counts as no byte, and still waits rather than spins.
  line.ClearLog();
  line.set_fail_reads(true);
  Answer(Sealed({0x01, 0x03, 0x02, 0x00, 0x0C}));
  EXPECT_FALSE(box.ReadRegisters(59, 1));
  EXPECT_EQ(box.error_code, 21);
  EXPECT_EQ(clock.Counter(), EndOfSending() + kFirstByteTicks + 1);
}

TEST_F(ModbusboxTest, GapAfterTwoBytesEndsWithCode25WhateverTheFirstByteTimeout) {
  Answer({0x01, 0x03, 0x08});
  EXPECT_FALSE(box.ReadRegisters(436, 4));
  EXPECT_EQ(box.error_code, 25);
  EXPECT_EQ(box.ErrorText(),
            "Команда 3. Відповідь отримана не повністю (перевищено час поміж байтами)");
  EXPECT_EQ(clock.Counter(), device.last_answer_end + kGapTicks + 1);
  EXPECT_LT(clock.Counter(), EndOfSending() + kFirstByteTicks);

  // Once two bytes are in, only the gap counts: a slow but steady reply is accepted.
  box.first_byte_timeout = 300;
  device.Then(
      ScriptedDevice::Reply(Sealed({0x01, 0x03, 0x08, 0, 1, 0, 2, 0, 3, 0, 4}), 200'000, 99'000));
  ASSERT_TRUE(box.ReadRegisters(436, 4)) << box.ErrorText();
  EXPECT_EQ(box.values[3], 4);
}

TEST_F(ModbusboxTest, SkipsFramesOfOthersAndRejectsBadChecksum) {
  Bytes noise = Sealed({0x02, 0x03, 0x02, 0x00, 0x0C});  // another sensor
  Bytes wrong = Sealed({0x01, 0x04, 0x02, 0x00, 0x0C});  // another function
  Bytes good = Sealed({0x01, 0x03, 0x02, 0x00, 0x20});
  noise.insert(noise.end(), wrong.begin(), wrong.end());
  noise.insert(noise.end(), good.begin(), good.end());
  Answer(noise);
  ASSERT_TRUE(box.ReadRegisters(59, 1)) << box.ErrorText();
  EXPECT_EQ(box.values[0], 0x20);

  Bytes bad = Sealed({0x01, 0x03, 0x02, 0x00, 0x0C});
  bad.back() ^= 0x01;
  Answer(bad);
  EXPECT_FALSE(box.ReadRegisters(59, 1));
  EXPECT_EQ(box.error_code, 27);
  EXPECT_EQ(box.ErrorText(), "Команда 3. Неспівпадання КС відповіді пристрою");

  // A well-formed reply with a byte count other than asked for.
  Answer(Sealed({0x01, 0x03, 0x02, 0x00, 0x0C}));
  EXPECT_FALSE(box.ReadRegisters(59, 2));
  EXPECT_EQ(box.error_code, 29);
}

TEST_F(ModbusboxTest, OversizedByteCountNeverWritesPastTheReplyBuffer) {
  RecordingPanel panel;
  box.status_panel = &panel;
  box.values.fill(0x5A5A);
  Bytes huge = {0x01, 0x03, 0xFF};
  huge.resize(260, 0xEE);  // the whole announced length, 255 + 5
  Answer(huge);
  EXPECT_FALSE(box.ReadRegisters(436, 4));
  EXPECT_EQ(box.error_code, 29);
  EXPECT_EQ(clock.Counter(), device.last_answer_end);  // let pass to its announced end
  // The fields that follow the buffer in the object are intact.
  EXPECT_EQ(box.status_panel, &panel);
  EXPECT_EQ(box.values[0], 0x5A5A);
  EXPECT_EQ(panel.texts.size(), 2u);

  // Cut short, it ends once the line has been quiet for the gap; the retry is sent only then.
  box.tries = 2;
  Bytes cut = {0x01, 0x03, 0xFF};
  cut.resize(40, 0xEE);
  Answer(cut);
  Answer(Sealed({0x01, 0x03, 0x08, 0, 1, 0, 2, 0, 3, 0, 4}));
  line.ClearLog();
  ASSERT_TRUE(box.ReadRegisters(436, 4)) << box.ErrorText();
  ASSERT_EQ(line.write_times().size(), 2u);
  // Last byte 10 ms + 39 bytes after the request, then the gap and one tick.
  EXPECT_EQ(line.write_times()[1],
            line.write_times()[0] + kTurnaroundUs + 39 * kByteUs + kGapTicks + 1);

  // A count that fits is collected by it: the checksum decides first (a corrupted count is
  // tried again), and an intact reply with another count fails with 29 without a retry.
  Bytes more = {0x01, 0x03, 0x0A};
  more.resize(15, 0x00);
  Answer(more);
  Answer(Sealed({0x01, 0x03, 0x0A, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5}));
  line.ClearLog();
  EXPECT_FALSE(box.ReadRegisters(436, 4));
  EXPECT_EQ(box.error_code, 29);
  EXPECT_EQ(line.write_times().size(), 2u);  // 27 on the first, then 29 and no third try
}

TEST_F(ModbusboxTest, LargestCountThatFitsIsCollectedAndTheNextIsRefused) {
  box.tries = 2;
  // 251 data bytes: a 256-byte frame, collected whole; intact, so 29 and no retry.
  Bytes fits = {0x01, 0x03, 251};
  fits.resize(254, 0x00);
  Answer(Sealed(fits));
  EXPECT_FALSE(box.ReadRegisters(0, 125));
  EXPECT_EQ(box.error_code, 29);
  EXPECT_EQ(line.write_times().size(), 1u);
  EXPECT_EQ(clock.Counter(), device.last_answer_end);

  // 252 data bytes cannot be held: refused while collecting, so the transaction is tried again.
  line.ClearLog();
  Bytes over = {0x01, 0x03, 252};
  over.resize(255, 0x00);
  Answer(Sealed(over));
  Answer(Sealed({0x01, 0x03, 0x02, 0x00, 0x0C}));
  ASSERT_TRUE(box.ReadRegisters(59, 1)) << box.ErrorText();
  EXPECT_EQ(line.write_times().size(), 2u);
}

TEST_F(ModbusboxTest, PreamblesTriesAndRtsHold) {
  box.preambles = 3;
  box.baud_rate = 9600;
  Answer(Sealed({0x01, 0x03, 0x02, 0x00, 0x0C}));
  ASSERT_TRUE(box.ReadRegisters(59, 1));
  Bytes expected = {0xFF, 0xFF, 0xFF};
  const Bytes frame = Sealed({0x01, 0x03, 0x00, 0x3B, 0x00, 0x01});
  expected.insert(expected.end(), frame.begin(), frame.end());
  EXPECT_EQ(line.written(), expected);
  // (10 * 11 + 1) bit times at 9600 bit/s = 11562.5 us.
  EXPECT_EQ(line.rts_changes()[1].at - line.rts_changes()[0].at, 11562u + 1);

  line.ClearLog();
  box.preambles = 0;
  box.rts_switching = false;
  box.tries = 2;
  EXPECT_FALSE(box.ReadRegisters(59, 1));
  EXPECT_EQ(line.written().size(), 16u);  // two transactions, no preambles
  ASSERT_EQ(line.write_times().size(), 2u);
  // The second try waits for the line to stay quiet for the byte gap first.
  EXPECT_EQ(line.write_times()[1] - line.write_times()[0], kFirstByteTicks + 1 + kGapTicks);
  EXPECT_TRUE(line.rts_changes().empty());
}

TEST_F(ModbusboxTest, AbortEndsWithCode28AndNoFurtherTries) {
  box.tries = 3;
  ui.on_process = [this] {
    if (ui.process_calls == 5)
      box.abort_requested = true;
  };
  EXPECT_FALSE(box.ReadRegisters(59, 1));
  EXPECT_EQ(box.error_code, 28);
  EXPECT_EQ(box.ErrorText(), "Команда 3. Обмін перервано на вимогу оператора");
  EXPECT_FALSE(box.abort_requested);
  EXPECT_EQ(line.write_times().size(), 1u);

  // Set before the request: nothing goes out.
  ui.on_process = nullptr;
  line.ClearLog();
  box.abort_requested = true;
  EXPECT_FALSE(box.ReadRegisters(59, 1));
  EXPECT_EQ(box.error_code, 28);
  EXPECT_TRUE(line.written().empty());
}

TEST_F(ModbusboxTest, RefusesWhatCannotBeFramedAndReportsLineFaults) {
  EXPECT_FALSE(box.ReadRegisters(0, 126));
  EXPECT_EQ(box.error_code, 3);
  EXPECT_EQ(box.ErrorText(), "Команда 3. Величина в полі даних запиту є недоступною");
  std::vector<uint16_t> words(124, 0x1234);
  EXPECT_FALSE(box.WriteRegisters(0, 124, words.data()));
  EXPECT_EQ(box.ErrorText(), "Команда 16. Величина в полі даних запиту є недоступною");
  EXPECT_TRUE(line.written().empty());

  // The largest frames each way still fit: 255-byte reply, 255-byte request.
  Bytes full = {0x01, 0x03, 250};
  for (int i = 0; i < 125; ++i)
    full.insert(full.end(), {0x00, static_cast<uint8_t>(i)});
  Answer(Sealed(full));
  ASSERT_TRUE(box.ReadRegisters(0, 125)) << box.ErrorText();
  EXPECT_EQ(box.values[124], 124);
  line.ClearLog();
  Answer(Sealed({0x01, 0x10, 0x00, 0x00, 0x00, 123}));
  ASSERT_TRUE(box.WriteRegisters(0, 123, words.data())) << box.ErrorText();
  EXPECT_EQ(line.written().size(), 255u);
  EXPECT_EQ(line.written()[6], 246);

  line.set_fail_writes(true);
  EXPECT_FALSE(box.WriteRegisters(436, 1, words.data()));
  EXPECT_EQ(box.error_code, 23);
  EXPECT_EQ(box.ErrorText(), "Команда 16. Сбій при виконанні операції запису");
  EXPECT_TRUE(line.rts_changes().back().on);  // left raised, as the write left it

  box.port_handle = nullptr;
  EXPECT_FALSE(box.ReadRegisters(59, 1));
  EXPECT_EQ(box.ErrorText(), "Команда 3. СОМ-порт недоступний");
}

TEST(ModbusboxErrorText, CodesWithoutATextGetAQuestionMark) {
  modbusbox box(1);
  box.last_function = 16;
  for (int code : {0, 9, 19, 31, 255, -1}) {
    box.error_code = code;
    box.BuildErrorText();
    EXPECT_EQ(box.ErrorText(), "Команда 16. ?") << code;
  }
}

}  // namespace
