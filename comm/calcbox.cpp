#include "comm/calcbox.h"
#include "comm/checksum.h"
#include "comm/exchange_steps.h"
#include "comm/reply_finder.h"

#include <algorithm>
#include <chrono>
#include <cstddef>

namespace {

// Request layouts of the 0xBB functions: offsets of the fields in the frame.
constexpr int kOffsetLine = 4;
constexpr int kOffsetChannel = 5;               // function 16
constexpr int kOffsetPasswordAfterLine = 5;     // functions 8 and 17
constexpr int kOffsetPasswordAfterChannel = 6;  // function 16
constexpr int kOffsetExtraPlain = 22;           // function 16 without constants password
constexpr int kOffsetConstPassword = 22;        // function 16 with constants password
constexpr int kOffsetExtraConst = 38;
constexpr int kPasswordSize = 12;  // the user code follows the write password

// Total frame lengths (start byte and checksum included) and the replies they get.
constexpr int kLengthIdentification = 6;
constexpr uint8_t kReplyIdentification = 165;
constexpr int kLengthFunction5 = 7;
constexpr uint8_t kReplyFunction5 = 19;
constexpr int kLengthLineRequest = 23;  // functions 8 and 17
constexpr uint8_t kReplyImitation = 26;
constexpr int kLengthEnterPlain = 29;
constexpr int kLengthEnterConst = 46;
constexpr uint8_t kReplyShort = 6;  // functions 16 and 17

// Smallest meaningful reply: start, address, length, function and the two checksum bytes.
constexpr uint8_t kMinReplyLength = 6;
constexpr uint8_t kRefusalAA = 0xFF;
constexpr uint8_t kReplyFunctionBit = 0x80;

// Identification reply bytes the program uses.
constexpr int kIdSwVersion = 63;
constexpr int kIdPlate = 69;
constexpr int kIdFlags = 162;
constexpr uint8_t kIdConstPasswordFlag = 0x80;

constexpr uint8_t kPreambleByte = 0xFF;
const char* const kStatusExchange = "Обмін ЛУТАР";

// Ten bit times per byte sent plus one byte more, so RTS drops after the last stop bit.
uint64_t RtsHold(int32_t baud_rate, size_t bytes, uint64_t frequency) {
  if (baud_rate <= 0)
    return 0;
  return static_cast<uint64_t>(static_cast<double>(BitTime(baud_rate)) * 10.0 *
                               static_cast<double>(bytes + 1) * static_cast<double>(frequency));
}

template <size_t N>
void Put(std::array<uint8_t, 256>& frame, int offset, const std::array<uint8_t, N>& field) {
  std::copy(field.begin(), field.end(), frame.begin() + offset);
}

}  // namespace

calcbox::calcbox(uint8_t address_) : address(address_) {
  write_password.fill(' ');
  user_code.fill(' ');
  const_password.fill(' ');
  messages = {
      "",
      "Невірно заданий стартовий символ",
      "Невірно заданий код функції",
      "Невірно задана довжина даних в запиті",
      "Сбій при виконанні операції запису",
      "Сбій при виконанні операції читання",
      "Пристрій не відповідає",
      "Вирпано час очикування відповіді",
      "Відповідь отримана не повністю (перевищено час поміж байтами)",
      "Неспівпадання КС відповіді пристрою",
      "Довжина відповіді (%d) не відповідає очикуваній (%d)",
      "Код функції у відповіді по AA дорівнює 0xFF",
      "Код функції у відповіді по BB не дорівнює коду у запиті плюс 128",
      "Обмін перервано на вимогу оператора",
      "Зв'язок втрачено: порт зник (адаптер від'єднано?)",
  };
}

bool calcbox::Exchange(uint8_t start, uint8_t function, const uint8_t* args, int arg_count) {
  if (start != kStartPlain && start != kStartPassword) {
    error_code = kErrorBadStart;
    BuildErrorText();
    return false;
  }
  // A caller that passes fewer bytes than the function takes gets zeros, not a read past them.
  const auto arg = [&](int i) -> uint8_t {
    return (args != nullptr && i < arg_count) ? args[i] : uint8_t{0};
  };

  error_code = 0;
  request.fill(0);
  reply.fill(0);
  request[0] = start;
  request[1] = address;
  request[3] = function;

  int length = 0;
  if (start == kStartPlain) {
    expected_start = kReplyPlain;
    if (function == kFunctionIdentification) {
      length = kLengthIdentification;
      expected_length = kReplyIdentification;
    } else if (function == kFunction5) {
      request[4] = arg(0);
      length = kLengthFunction5;
      expected_length = kReplyFunction5;
    } else {
      error_code = kErrorBadFunction;
      BuildErrorText();
      return false;
    }
  } else {
    expected_start = kReplyPassword;
    if (function == kFunctionReadImitation || function == kFunctionLeaveService) {
      request[kOffsetLine] = arg(0);
      Put(request, kOffsetPasswordAfterLine, write_password);
      Put(request, kOffsetPasswordAfterLine + kPasswordSize, user_code);
      length = kLengthLineRequest;
      expected_length = function == kFunctionReadImitation ? kReplyImitation : kReplyShort;
    } else if (function == kFunctionEnterService) {
      request[kOffsetLine] = arg(0);
      request[kOffsetChannel] = arg(1);
      Put(request, kOffsetPasswordAfterChannel, write_password);
      Put(request, kOffsetPasswordAfterChannel + kPasswordSize, user_code);
      if (const_password_required) {
        Put(request, kOffsetConstPassword, const_password);
        request[kOffsetExtraConst] = arg(2);
        length = kLengthEnterConst;
      } else {
        request[kOffsetExtraPlain] = arg(2);
        length = kLengthEnterPlain;
      }
      expected_length = kReplyShort;
    } else {
      error_code = kErrorBadFunction;
      BuildErrorText();
      return false;
    }
  }

  request[2] = static_cast<uint8_t>(length);
  // Checksum low byte first.
  const uint16_t crc = FrameChecksum(request.data(), static_cast<uint32_t>(length - 2));
  request[length - 2] = static_cast<uint8_t>(crc & 0xFF);
  request[length - 1] = static_cast<uint8_t>(crc >> 8);

  if (status_panel != nullptr)
    status_panel->SetText(kStatusExchange);
  attempt = 0;
  RunTries(
      tries, [&] { return Transact(length); },
      [&] { return error_code == kErrorAborted || error_code == kErrorLinkLost; });
  if (status_panel != nullptr)
    status_panel->SetText("");

  if (error_code != 0) {
    BuildErrorText();
    return false;
  }
  if (start == kStartPlain && function == kFunctionIdentification) {
    sw_version = reply[kIdSwVersion];
    plate = reply[kIdPlate];
    const_password_required = (reply[kIdFlags] & kIdConstPasswordFlag) != 0;
  }
  return true;
}

bool calcbox::Transact(int length) {
  if (OperatorStopped(*ui, abort_requested, error_code, kErrorAborted))
    return false;
  const bool retry = attempt++ > 0;
  if (tap == nullptr)
    return TransactFrame(length);

  // The write password and the user code (and the constants password after them) follow the
  // line, or the line and the channel, in every request that carries them.
  size_t mask_from = 0;
  size_t mask_to = 0;
  if (request[0] == kStartPassword) {
    const bool enter = request[3] == kFunctionEnterService;
    mask_from = enter ? kOffsetPasswordAfterChannel : kOffsetPasswordAfterLine;
    mask_to = mask_from + kPasswordSize + std::tuple_size_v<decltype(user_code)>;
    if (enter && const_password_required)
      mask_to = kOffsetConstPassword + std::tuple_size_v<decltype(const_password)>;
  }
  tap->BeginTransaction(TapProtocol::kCorrector, request[3], 0, 0, preambles, mask_from, mask_to,
                        retry);
  const bool done = TransactFrame(length);
  if (!done)
    BuildErrorText();
  tap->EndTransaction(TapOutcomeOf(error_code), error_code, done ? std::string() : error_text);
  return done;
}

TapOutcome calcbox::TapOutcomeOf(int32_t code) {
  switch (code) {
    case 0:
      return TapOutcome::kAnswered;
    case kErrorNoAnswer:
    case kErrorReplyTimeout:
    case kErrorByteGap:
      return TapOutcome::kTimeout;
    case kErrorChecksum:
      return TapOutcome::kChecksum;
    case kErrorRefusedAA:
    case kErrorDevice:
      return TapOutcome::kException;
    case kErrorAborted:
      return TapOutcome::kAborted;
    case kErrorLinkLost:
      return TapOutcome::kLinkLost;
    default:
      return TapOutcome::kOther;
  }
}

bool calcbox::TransactFrame(int length) {
  DrainIfPending(drain_before_send_, *port_handle, *clock, next_byte_timeout, first_byte_timeout);

  // Preambles (at most 255) and a frame of at most 256 bytes.
  std::array<uint8_t, 255 + 256> block{};
  const int frame_length = std::clamp(length, 0, static_cast<int>(request.size()));
  const size_t n = static_cast<size_t>(preambles) + static_cast<size_t>(frame_length);
  std::fill_n(block.begin(), preambles, kPreambleByte);
  std::copy_n(request.begin(), frame_length, block.begin() + preambles);

  const uint64_t frequency = clock->Frequency();
  if (!SendRequest(*port_handle, *clock, rts_switching, RtsHold(baud_rate, n, frequency),
                   block.data(), n, ui)) {
    error_code = port_handle->Gone() ? kErrorLinkLost : kErrorWrite;
    return false;
  }

  const uint64_t t1 = clock->Counter();
  // A negative setting means no wait at all.
  const uint64_t deadline = t1 + MsToTicks(std::max<int32_t>(0, first_byte_timeout), frequency);
  const uint64_t gap = MsToTicks(std::max<int32_t>(0, next_byte_timeout), frequency);
  const uint64_t idle_pause = MsToTicks(port_handle->IdleWaitMs(), frequency);
  uint64_t last_byte = t1;
  const bool any_address = request[1] == kSearchAddress;
  const uint8_t start = expected_start;
  const uint8_t own = address;
  // The length byte is 8 bits, so a frame never exceeds the 256-byte reply buffer.
  ReplyFinder finder(block.data(), n, echo,
                     [start, own, any_address](const uint8_t* at, size_t available) {
                       FrameView view;
                       if (at[0] != start)
                         return view;
                       view.kind = FrameView::Kind::kMore;
                       if (available < 2)
                         return view;
                       // Any corrector may answer a search; its address is adopted once the
                       // frame checks.
                       if (!any_address && at[1] != own) {
                         view.kind = FrameView::Kind::kNoStart;
                         return view;
                       }
                       view.started = true;
                       if (available < 3)
                         return view;
                       if (at[2] < kMinReplyLength) {
                         view.kind = FrameView::Kind::kNoStart;
                         return view;
                       }
                       view.kind = FrameView::Kind::kFrame;
                       view.length = at[2];
                       return view;
                     });
  error_code = 0;

  while (error_code == 0) {
    if (OperatorStopped(*ui, abort_requested, error_code, kErrorAborted))
      return false;

    uint8_t byte = 0;
    const ReplyByte read = ReadReplyByteOrGone(*port_handle, byte);
    if (read == ReplyByte::kLineGone) {
      error_code = kErrorLinkLost;
      return false;
    }
    if (read == ReplyByte::kByte) {
      finder.Add(byte);
      if (finder.Found())
        break;  // complete
      last_byte = clock->Counter();
    } else {
      // Sleep until the next byte, but no further than the first tick at which a time-out
      // can fire, so that it is seen on that very tick.
      const uint64_t now = clock->Counter();
      uint64_t fire = deadline + 1;
      if (finder.InFrame() || finder.ChecksumFailed())
        fire = std::min(fire, last_byte + gap + 1);
      const uint64_t wait = fire > now ? std::min(idle_pause, fire - now) : 0;
      port_handle->WaitForInput(TicksToWait(wait, frequency));
    }

    const uint64_t now = clock->Counter();
    if (!finder.InFrame() && finder.ChecksumFailed() && (last_byte + gap < now || now > deadline)) {
      // A whole frame came and failed; nothing that could replace it followed.
      error_code = kErrorChecksum;
    } else if (now > deadline) {
      error_code = finder.InFrame() ? kErrorReplyTimeout : kErrorNoAnswer;
    } else if (finder.InFrame() && last_byte + gap < now) {
      error_code = kErrorByteGap;
    }
  }
  // A reply still on its way when the time-out ended must not answer the next request.
  drain_before_send_ = error_code == kErrorNoAnswer || error_code == kErrorReplyTimeout ||
                       error_code == kErrorByteGap;
  if (error_code != 0)
    return false;
  std::copy_n(finder.Frame(), finder.FrameLength(), reply.begin());

  if (FrameChecksum(reply.data(), reply[2]) != 0) {
    error_code = kErrorChecksum;
    return false;
  }
  // Only a frame that checks tells whose it is: a corrupted byte must not become the address
  // of every later request.
  if (request[1] == kSearchAddress)
    address = reply[1];
  if (expected_start == kReplyPlain && reply[3] == kRefusalAA) {
    error_code = kErrorRefusedAA;
    return false;
  }
  if (expected_start == kReplyPassword &&
      reply[3] != static_cast<uint8_t>(request[3] | kReplyFunctionBit)) {
    error_code = kErrorDevice;
    return false;
  }
  if (reply[2] != expected_length) {
    error_code = kErrorLength;
    return false;
  }
  return true;
}

void calcbox::BuildErrorText() {
  error_text.clear();
  if (error_code == kErrorLength) {
    error_text = FormatCorrectorText(messages[kErrorLength].c_str(), static_cast<int>(reply[2]),
                                     static_cast<int>(expected_length));
  } else if (error_code == kErrorDevice) {
    DecodeDeviceError();
  } else if (error_code >= 0 && static_cast<size_t>(error_code) < messages.size()) {
    error_text = messages[static_cast<size_t>(error_code)];
  }
}
