#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "comm/clock.h"
#include "comm/exchange_host.h"
#include "comm/line_tap.h"
#include "comm/reply_finder.h"
#include "comm/serial_line.h"

// Gas names of the corrector's error replies, indexed by the reply's detail byte.
extern const std::array<const char*, 8> ComponentNames;
// Measured parameter names of the corrector's error replies, indexed by the detail byte.
extern const std::array<const char*, 4> ParameterNames;
// printf-style format of each error code a corrector may put into a refusal (0 is unused).
extern const std::array<const char*, 184> CorrectorErrorTable;

// printf-style formatting into a text as long as the result needs.
std::string FormatCorrectorText(const char* format, ...);

// Exchange object of the corrector's own framed protocol. Requests start with 0xAA (plain) or
// 0xBB (with passwords); replies with 0x55 or 0x66. Its owner fills the public fields after
// construction; every operation returns a boolean and leaves `error_code` and the text behind.
class calcbox {
 public:
  // Request start bytes and the reply start byte each of them gets.
  static constexpr uint8_t kStartPlain = 0xAA;
  static constexpr uint8_t kStartPassword = 0xBB;
  static constexpr uint8_t kReplyPlain = 0x55;
  static constexpr uint8_t kReplyPassword = 0x66;
  // An address of 255 in a request means "whoever answers": the replying address is adopted.
  static constexpr uint8_t kSearchAddress = 255;

  static constexpr uint8_t kFunctionIdentification = 1;
  static constexpr uint8_t kFunction5 = 5;
  static constexpr uint8_t kFunctionReadImitation = 8;
  static constexpr uint8_t kFunctionEnterService = 16;
  static constexpr uint8_t kFunctionLeaveService = 17;

  static constexpr uint8_t kStateService = 3;
  static constexpr uint8_t kStateNormal = 0;

  static constexpr int kErrorBadStart = 1;
  static constexpr int kErrorBadFunction = 2;
  static constexpr int kErrorBadDataLength = 3;
  static constexpr int kErrorWrite = 4;
  static constexpr int kErrorRead = 5;
  static constexpr int kErrorNoAnswer = 6;
  static constexpr int kErrorReplyTimeout = 7;
  static constexpr int kErrorByteGap = 8;
  static constexpr int kErrorChecksum = 9;
  static constexpr int kErrorLength = 10;
  static constexpr int kErrorRefusedAA = 11;
  static constexpr int kErrorDevice = 12;
  static constexpr int kErrorAborted = 13;
  static constexpr int kErrorLinkLost = 14;

  explicit calcbox(uint8_t address);

  // The application's open port; the object uses it but never closes it.
  SerialLine* port_handle = nullptr;
  uint8_t address;
  int32_t baud_rate = 1200;           // only used for the RTS hold
  uint8_t preambles = 5;              // 0xFF bytes sent ahead of each request frame
  int32_t first_byte_timeout = 5000;  // ms from the end of sending to the complete reply
  int32_t next_byte_timeout = 300;    // ms allowed between two reply bytes
  uint8_t tries = 1;
  EchoMode echo = EchoMode::kDetect;  // the adapter's copy of each request
  std::array<uint8_t, 12> write_password;
  std::array<uint8_t, 4> user_code;
  bool const_password_required = false;
  std::array<uint8_t, 16> const_password;
  uint8_t sw_version = 0;
  uint8_t plate = 0;
  uint8_t service_state = 0;  // 3 = line in service, 0 = normal
  // The last EnterService got the corrector's acceptance of the command (whether or not the
  // line was then seen in service).
  bool service_entry_accepted = false;
  bool rts_switching = true;
  bool abort_requested = false;
  std::array<uint8_t, 256> request{};
  std::array<uint8_t, 256> reply{};
  StatusPanel* status_panel = nullptr;
  int32_t error_code = 0;
  std::array<std::string, 15> messages;
  uint8_t expected_length = 0;
  uint8_t expected_start = 0;
  std::string error_text;
  // Where the transactions are marked for whoever watches the line; none when unset.
  LineTap* tap = nullptr;
  // Transactions of the running request so far: the later ones are retries.
  uint8_t attempt = 0;

  // Called when the corrector refused the codes of a request and the user chose to repeat it:
  // puts new codes into write_password and user_code, or returns false when the user gave up.
  // Unset, the same codes are sent again.
  std::function<bool(calcbox&)> request_new_codes;

  // Time base and user interface of the exchanges; tests put virtual ones here.
  Clock* clock = &SystemClock::Instance();
  ExchangeHost* ui = &NullExchangeHost::Instance();

  // One request with up to `tries` transactions. Function 1 and 5 go with start 0xAA, 8, 16
  // and 17 with 0xBB. `args`: function 5 takes one byte, 8 and 17 the line, 16 the line, the
  // sensor channel and an extra byte; bytes beyond `arg_count` are sent as 0.
  bool Exchange(uint8_t start, uint8_t function, const uint8_t* args, int arg_count);
  // One transaction of the `length`-byte frame already in `request`.
  bool Transact(int length);
  // The transaction after the operator's stop has been looked at: send, then collect the reply.
  bool TransactFrame(int length);
  // How a transaction that ended with `code` counts on the line.
  static TapOutcome TapOutcomeOf(int32_t code);
  void BuildErrorText();
  const std::string& ErrorText() const { return error_text; }
  // Turns the corrector's refusal in `reply` into `error_text`.
  void DecodeDeviceError();
  // True when the last request failed because the corrector took its codes for wrong ones.
  bool CodesRefused() const;

  // Service commands; each asks the user whether to repeat a failed request.
  bool ReadIdentification();
  bool ReadImitation(uint8_t line);
  bool EnterService(uint8_t line, uint8_t channel, uint8_t extra);
  bool LeaveService(uint8_t line);
  // Polls the line until the corrector reports it in service (true) or the time for that has
  // passed: the corrector refuses other commands while it changes the mode.
  bool AwaitServiceEntry(uint8_t line);

 private:
  bool drain_before_send_ = false;  // the last transaction timed out with its reply maybe coming
};
