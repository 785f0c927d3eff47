#pragma once

#include <cstdint>
#include <string>

#include "comm/clock.h"
#include "comm/exchange_host.h"
#include "comm/line_tap.h"
#include "comm/serial_line.h"

// Exchange object of a reference instrument (a pressure gauge, a handheld calibrator, a pressure
// controller) that answers plain-text queries, one line each, on a port of its own. It knows
// the line discipline only; what a command is and how a number is read from a reply belong to
// its owner.
//
// A reply is the first line that comes after the request: leading line ends are skipped, and
// CR or LF ends it. Failures are numbered codes with their texts, as with the other exchange
// objects; nothing is shown or asked here.
//
// Error codes: 20 no port, 21 no reply, 23 the write failed, 25 the reply stopped before its
// line end, 26 the reply holds control bytes (noise, a wrong rate), 28 stopped by the
// operator, 29 the reply is longer than any instrument sends, 30 the port has gone away.
class ReferenceBox {
 public:
  static constexpr int kErrorNoPort = 20;
  static constexpr int kErrorNoReply = 21;
  static constexpr int kErrorWriteFailed = 23;
  static constexpr int kErrorCutShort = 25;
  static constexpr int kErrorGarbage = 26;
  static constexpr int kErrorAborted = 28;
  static constexpr int kErrorTooLong = 29;
  static constexpr int kErrorLinkLost = 30;
  // Longer than any reading, identification or status line of such instruments.
  static constexpr size_t kMaxReply = 160;

  // Tap functions, so the monitor tells a query from a bare command.
  static constexpr uint8_t kTapQuery = 1;
  static constexpr uint8_t kTapCommand = 2;

  bool abort_requested = false;
  SerialLine* port_handle = nullptr;  // never closed by this object
  std::string line_end = "\r\n";      // appended to every command sent
  int32_t first_byte_timeout = 1000;  // ms from the write to the first reply byte
  int32_t next_byte_timeout = 200;    // ms allowed between reply bytes
  // After a command that expects no reply, the line is listened to this long, so that a
  // courtesy answer ("OK") cannot pass for the reply to the next query.
  int32_t command_quiet = 60;
  uint8_t tries = 1;
  int32_t error_code = 0;
  LineTap* tap = nullptr;
  Clock* clock = &SystemClock::Instance();
  ExchangeHost* ui = &NullExchangeHost::Instance();

  // Sends `command` and takes the reply line, without its line end, into `reply`.
  bool Query(const std::string& command, std::string& reply);
  // Sends `command`, which the instrument does not answer.
  bool Command(const std::string& command);

  // The text of error_code.
  std::string ErrorText() const;
  // The bytes the last failed query brought (printable ones as they are, others as \xNN), for
  // a message that shows what the instrument sent.
  const std::string& received() const { return received_; }

  static TapOutcome TapOutcomeOf(int32_t code);

 private:
  bool Exchange(uint8_t tap_function, const std::string& command, std::string* reply);
  bool Transact(const std::string& block, std::string* reply);
  bool CollectReply(std::string& reply);
  void ListenQuietly();

  bool drain_before_send_ = false;
  std::string received_;
};
