// The Win32 serial layer against a live corrector on a COM port. Under wine the port is a link
// in the prefix's dosdevices to a pseudo-terminal that the Linux simulator serves (see
// scripts/cross-windows.sh); on Windows it can be any port with a corrector or a null-modem
// cable to a simulator.
//
//   win32_serial_test.exe --com N [--rate R] [--absent-com M] [--slow-com S]
//
// M: a port number with no device. S: a port whose far end is tests/windows/slow_reader.py
// started with the block size below.
//
// The simulator's defaults are expected behind the port: corrector address 1, plate 26,
// software version 37, no constants password, line 1 with a pressure sensor at address 101
// reading 101.325 kPa at the factory calibration.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "comm/win32_api.h"

#include "comm/calcbox.h"
#include "comm/clock.h"
#include "comm/comport_line.h"
#include "comm/comportfunctions.h"
#include "comm/modbusbox.h"

namespace {

int com_number = 0;
int absent_com = 0;
int slow_com = 0;
// What the slow reader of --slow-com expects: far more than a terminal buffers.
constexpr size_t kSlowBlockSize = 65536;
int32_t rate = 19200;

constexpr uint8_t kCorrectorAddress = 1;
constexpr uint8_t kPressureAddress = 101;
constexpr uint8_t kLine = 1;
constexpr uint8_t kPressureChannel = 0;

// The port as the connection dialog opens it: 8N1, 1000-byte queues, DTR on, RTS off, reads
// that return at once, then DTR raised.
class OpenPort {
 public:
  OpenPort() {
    handle_ = OpenComPort(com_number, rate, 8, 0, 0, 1000, 1000, true, false);
    if (handle_ != kNoComHandle) {
      timeouts_set_ = SetComTimeouts(handle_, kComMaxDword, 0, 0);
      // A pseudo-terminal has no modem lines; the application goes on without DTR as well.
      SetComDtr(handle_, true);
    }
  }
  ~OpenPort() { CloseComPort(handle_); }
  OpenPort(const OpenPort&) = delete;
  OpenPort& operator=(const OpenPort&) = delete;

  bool ok() const { return handle_ != kNoComHandle && timeouts_set_; }
  ComHandle handle() const { return handle_; }

 private:
  ComHandle handle_ = kNoComHandle;
  bool timeouts_set_ = false;
};

void SetUpExchange(calcbox& box, SerialLine& line) {
  box.port_handle = &line;
  box.baud_rate = rate;
  box.first_byte_timeout = 2000;
  box.next_byte_timeout = 300;
  box.tries = 2;
  box.write_password.fill(0);
  box.user_code.fill(0);
  box.const_password.fill(0);
}

void SetUpExchange(modbusbox& box, SerialLine& line) {
  box.port_handle = &line;
  box.baud_rate = rate;
  box.first_byte_timeout = 2000;
  box.next_byte_timeout = 100;
  box.tries = 2;
}

TEST(Win32Port, PresenceOpenAndIdleRead) {
  EXPECT_TRUE(ComPortExists(com_number));
  if (absent_com > 0) {
    EXPECT_FALSE(ComPortExists(absent_com));
  }

  OpenPort port;
  ASSERT_TRUE(port.ok()) << LastComPortError();
  EXPECT_TRUE(LastComPortError().empty());

  // Nothing has been asked: a read returns at once, successfully, with no byte. Whatever an
  // earlier run left on the line is dropped first.
  ComPortLine line(port.handle());
  EXPECT_TRUE(line.Purge());
  line.WaitForInput(std::chrono::milliseconds(50));
  EXPECT_TRUE(line.Purge());
  uint8_t byte = 0;
  EXPECT_EQ(line.ReadByte(byte), SerialLine::ReadResult::kNothing);
  EXPECT_TRUE(line.ClearErrors());

  // The counter the exchanges time themselves on.
  EXPECT_EQ(GetTickFrequency(), SystemClock::Instance().Frequency());
  EXPECT_GT(GetTickFrequency(), 0u);
}

// The wait blocks in a read on the port: on a silent line it lasts its whole limit, never less.
// Its blocking time-outs stay in the driver for the next wait, but a read puts the owner's back
// (reads that return at once, the write time-outs untouched), so ReadByte never blocks.
TEST(Win32Port, WaitOnASilentLineLastsItsLimitAndKeepsTheTimeouts) {
  OpenPort port;
  ASSERT_TRUE(port.ok()) << LastComPortError();
  COMMTIMEOUTS set;
  ASSERT_TRUE(GetCommTimeouts(port.handle(), &set));
  set.WriteTotalTimeoutConstant = 1234;
  ASSERT_TRUE(SetCommTimeouts(port.handle(), &set));
  // The port's owner sets its time-outs through the serial layer, which keeps them.
  ASSERT_TRUE(SetComTimeouts(port.handle(), kComMaxDword, 0, 0));

  ComPortLine line(port.handle());
  ASSERT_TRUE(line.Purge());
  SystemClock& clock = SystemClock::Instance();
  for (const auto limit : {std::chrono::microseconds(300), std::chrono::microseconds(2500),
                           std::chrono::microseconds(150'000)}) {
    const uint64_t start = clock.Counter();
    line.WaitForInput(limit);
    const double waited_us =
        static_cast<double>(clock.Counter() - start) * 1e6 / static_cast<double>(clock.Frequency());
    EXPECT_GE(waited_us, static_cast<double>(limit.count()));
    // Far more than any scheduler tick: the wait did not hang on the port.
    EXPECT_LT(waited_us, static_cast<double>(limit.count()) + 1e6);
  }

  // The first read after an empty wait is answered without the driver; the next one asks it.
  uint8_t skipped = 0;
  EXPECT_EQ(line.ReadByte(skipped), SerialLine::ReadResult::kNothing);
  EXPECT_EQ(line.ReadByte(skipped), SerialLine::ReadResult::kNothing);
  COMMTIMEOUTS after;
  ASSERT_TRUE(GetCommTimeouts(port.handle(), &after));
  EXPECT_EQ(after.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(after.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(after.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(after.WriteTotalTimeoutConstant, 1234u);
  EXPECT_EQ(after.WriteTotalTimeoutMultiplier, set.WriteTotalTimeoutMultiplier);
  uint8_t byte = 0;
  EXPECT_EQ(line.ReadByte(byte), SerialLine::ReadResult::kNothing);
}

// A reply that arrives while the exchange waits is taken by the wait's read and handed out by
// ReadByte, every byte in order: the corrector's identification, awaited in waits far longer
// than the reply takes.
TEST(Win32Port, BytesTakenByTheWaitAreHandedOutInOrder) {
  OpenPort port;
  ASSERT_TRUE(port.ok()) << LastComPortError();
  ComPortLine line(port.handle());
  calcbox corrector(kCorrectorAddress);
  SetUpExchange(corrector, line);
  ASSERT_TRUE(corrector.ReadIdentification()) << corrector.ErrorText();
  EXPECT_EQ(corrector.plate, 26);
  // Once more, with the line's buffer already used.
  ASSERT_TRUE(corrector.ReadIdentification()) << corrector.ErrorText();
  EXPECT_EQ(corrector.plate, 26);
}

TEST(Win32Port, HeldPortStillCountsAsPresent) {
  // Windows refuses the second open (share mode 0) with ERROR_ACCESS_DENIED, which the presence
  // test takes for a port in use; wine lets it open, which counts as present too.
  OpenPort held;
  ASSERT_TRUE(held.ok()) << LastComPortError();
  EXPECT_TRUE(ComPortExists(com_number));
}

// A port that drains slower than the program writes, with write time-outs set (as another
// program may have left them): WriteFile then succeeds having taken only part of the block.
// WriteComPort sends the rest in further calls, in order, and nothing is lost or doubled.
TEST(Win32Port, PartialWritesAreCompleted) {
  if (slow_com <= 0)
    GTEST_SKIP() << "no slowly draining port given (--slow-com)";
  const ComHandle handle = OpenComPort(slow_com, rate, 8, 0, 0, 1000, 1000, true, false);
  ASSERT_NE(handle, kNoComHandle) << LastComPortError();
  const std::unique_ptr<void, void (*)(ComHandle)> closer(handle, CloseComPort);
  ASSERT_TRUE(SetComTimeouts(handle, kComMaxDword, 0, 0));
  COMMTIMEOUTS t;
  ASSERT_TRUE(GetCommTimeouts(handle, &t));
  t.WriteTotalTimeoutMultiplier = 0;
  t.WriteTotalTimeoutConstant = 10;
  ASSERT_TRUE(SetCommTimeouts(handle, &t));

  std::vector<uint8_t> block(kSlowBlockSize);
  for (size_t i = 0; i < block.size(); ++i)
    block[i] = static_cast<uint8_t>(i % 251);

  // The premise: one WriteFile of the whole block comes back short.
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(handle, block.data(), static_cast<DWORD>(block.size()), &written, nullptr));
  EXPECT_LT(written, block.size());

  ComPortLine line(handle);
  EXPECT_TRUE(line.Write(block.data() + written, block.size() - written));

  // The reader's verdict on what it got: K for every byte in order.
  uint8_t verdict = 0;
  SerialLine::ReadResult read = SerialLine::ReadResult::kNothing;
  for (int i = 0; i < 500 && read != SerialLine::ReadResult::kByte; ++i) {
    line.WaitForInput(std::chrono::milliseconds(10));
    read = line.ReadByte(verdict);
  }
  EXPECT_EQ(read, SerialLine::ReadResult::kByte);
  EXPECT_EQ(verdict, 'K');
}

// Identification, service mode on line 1, the pressure sensor's unit, value and calibration
// through the corrector, and the line taken out of service again: the whole connection as the
// application makes it, over the real Win32 calls.
TEST(Win32Port, CorrectorAndSensorThroughServiceMode) {
  OpenPort port;
  ASSERT_TRUE(port.ok()) << LastComPortError();
  ComPortLine line(port.handle());

  calcbox corrector(kCorrectorAddress);
  SetUpExchange(corrector, line);
  ASSERT_TRUE(corrector.ReadIdentification()) << corrector.ErrorText();
  EXPECT_EQ(corrector.plate, 26);
  EXPECT_EQ(corrector.sw_version, 37);
  EXPECT_FALSE(corrector.const_password_required);

  // A line left in service by an interrupted run is taken out first.
  ASSERT_TRUE(corrector.ReadImitation(kLine)) << corrector.ErrorText();
  if (corrector.service_state != calcbox::kStateNormal) {
    ASSERT_TRUE(corrector.LeaveService(kLine)) << corrector.ErrorText();
  }
  ASSERT_TRUE(corrector.EnterService(kLine, kPressureChannel, 0)) << corrector.ErrorText();
  EXPECT_EQ(corrector.service_state, calcbox::kStateService);

  modbusbox sensor(kPressureAddress);
  SetUpExchange(sensor, line);
  EXPECT_TRUE(sensor.ReadUnit(kPressureChannel)) << sensor.ErrorText();
  ASSERT_TRUE(sensor.ReadRegisters(400, 2)) << sensor.ErrorText();
  EXPECT_NEAR(RegistersToFloat(sensor.values[0], sensor.values[1]), 101.325f, 1e-4f);
  float offset = -1.0f;
  float slope = -1.0f;
  ASSERT_TRUE(sensor.ReadCalibration(offset, slope)) << sensor.ErrorText();
  EXPECT_EQ(offset, 0.0f);
  EXPECT_EQ(slope, 1.0f);

  // A register the sensor does not have: its exception comes back through the corrector.
  EXPECT_FALSE(sensor.ReadRegisters(1000, 1));
  EXPECT_EQ(sensor.error_code, 2);

  EXPECT_TRUE(corrector.LeaveService(kLine)) << corrector.ErrorText();
  EXPECT_EQ(corrector.service_state, calcbox::kStateNormal);
}

bool ParseInt(const char* text, int& value) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0')
    return false;
  value = static_cast<int>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; i += 2) {
    int value = 0;
    if (i + 1 == argc || !ParseInt(argv[i + 1], value)) {
      std::fprintf(stderr, "%s needs a number\n", argv[i]);
      return 2;
    }
    if (std::strcmp(argv[i], "--com") == 0) {
      com_number = value;
    } else if (std::strcmp(argv[i], "--rate") == 0) {
      rate = value;
    } else if (std::strcmp(argv[i], "--absent-com") == 0) {
      absent_com = value;
    } else if (std::strcmp(argv[i], "--slow-com") == 0) {
      slow_com = value;
    } else {
      std::fprintf(stderr, "unknown option: %s\n", argv[i]);
      return 2;
    }
  }
  if (com_number <= 0) {
    std::fprintf(stderr, "usage: %s --com N [--rate R] [--absent-com M] [--slow-com S]\n", argv[0]);
    return 2;
  }
  return RUN_ALL_TESTS();
}
