#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "comm/clock.h"
#include "comm/exchange_host.h"
#include "comm/line_tap.h"
#include "comm/reply_finder.h"
#include "comm/serial_line.h"

// Exchange object of Modbus RTU: function 3 (read holding registers) and function 16 (write
// multiple registers) to one sensor, one request at a time, over a line it does not own.
// Failures are numbered codes with their texts; nothing is thrown and nothing is shown here
// except by the sensor commands (ReadUnit, ReadCalibration), which ask the user to retry.
//
// Error codes: 1-8 are the sensor's exception codes; 20-29 are local:
//   20 no line to talk on, 21 no reply, 23 the write failed, 25 gap between reply bytes,
//   27 bad checksum, 28 stopped by the operator, 29 the reply does not match the request,
//   30 the port has gone away.
// Any other exception code c (0, 9-255) is kErrorOtherException + c, never a local code.
// A count above what one frame may carry (125 registers read, 123 written) is refused before
// anything is sent, with code 3, the code the sensor itself answers such a request with.
class modbusbox {
 public:
  static constexpr size_t kFrameSize = 256;
  static constexpr uint16_t kMaxReadCount = 125;   // 250 data bytes: a 255-byte reply
  static constexpr uint16_t kMaxWriteCount = 123;  // 246 data bytes: a 255-byte request

  static constexpr int kErrorIllegalDataValue = 3;
  static constexpr int kErrorNoPort = 20;
  static constexpr int kErrorNoReply = 21;
  static constexpr int kErrorWriteFailed = 23;
  static constexpr int kErrorByteGap = 25;
  static constexpr int kErrorChecksum = 27;
  static constexpr int kErrorAborted = 28;
  static constexpr int kErrorMismatch = 29;
  static constexpr int kErrorLinkLost = 30;
  static constexpr int kErrorOtherException = 256;

  explicit modbusbox(uint8_t address);

  bool abort_requested = false;
  bool rts_switching = true;
  SerialLine* port_handle = nullptr;  // never closed by this object
  uint8_t address;
  int32_t baud_rate = 19200;          // only for the RTS hold
  uint8_t preambles = 0;              // 0xFF bytes sent before each request
  int32_t first_byte_timeout = 2000;  // ms from the end of sending to the second reply byte
  int32_t next_byte_timeout = 100;    // ms allowed between reply bytes once two have come
  uint8_t tries = 1;
  EchoMode echo = EchoMode::kDetect;  // the adapter's copy of each request
  std::array<uint8_t, kFrameSize> request{};
  std::array<uint8_t, kFrameSize> reply{};
  StatusPanel* status_panel = nullptr;
  std::array<uint16_t, kMaxReadCount> values{};  // registers of the last successful read
  int32_t error_code = 0;
  std::string message_buffer;
  uint8_t last_function = 0;
  std::string error_text;
  uint16_t last_start = 0;
  uint16_t last_count = 0;
  // Where the transactions are marked for whoever watches the line; none when unset.
  LineTap* tap = nullptr;
  // Transactions of the running request so far: the later ones are retries.
  uint8_t attempt = 0;

  Clock* clock = &SystemClock::Instance();
  ExchangeHost* ui = &NullExchangeHost::Instance();

  // Reads `count` holding registers from `first` into values[0 .. count - 1].
  bool ReadRegisters(uint16_t first, uint16_t count);
  // Writes `count` registers from `first`.
  bool WriteRegisters(uint16_t first, uint16_t count, const uint16_t* values);
  // One transaction of the `length`-byte frame in `request` with function `function`.
  bool Transact(uint8_t function, int length);
  // The transaction once the stop and the port have been looked at.
  bool TransactFrame(uint8_t function, int length);
  // How a transaction that ended with `code` counts on the line.
  static TapOutcome TapOutcomeOf(int32_t code);
  // Sets error_text from error_code and last_function.
  void BuildErrorText();
  const std::string& ErrorText() const { return error_text; }

  // Checks that the sensor measures in the unit of the channel (0 pressure, 1 temperature).
  bool ReadUnit(uint8_t channel);
  // Reads the sensor's calibration; on failure both arguments keep their values.
  bool ReadCalibration(float& sensor_offset, float& sensor_slope);
  // Reads the measured value, in the sensor's unit; on failure `value` keeps its value. Asks
  // nothing: what a failure means is the caller's to decide, as with WriteCalibration.
  bool ReadValue(float& value);
  // Writes the calibration's offset and slope in one request.
  bool WriteCalibration(float sensor_offset, float sensor_slope);

 private:
  bool drain_before_send_ = false;  // the last transaction timed out with its reply maybe coming
  // Runs the prepared request with its tries and the status panel text around them.
  void RunRequest(uint8_t function, int length, const char* panel_text);
};

// Register words travel high byte first.
void PutWordBE(uint16_t value, uint8_t* dest);
uint16_t GetWordBE(const uint8_t* src);

// A 32-bit float in two registers: the lower-numbered register holds the low-order 16 bits.
// The bits are copied as they are, NaN and infinities included.
float RegistersToFloat(uint16_t low_word, uint16_t high_word);
void FloatToRegisters(float value, uint16_t& low_word, uint16_t& high_word);
