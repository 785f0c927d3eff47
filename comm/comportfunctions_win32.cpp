#include "comm/win32_api.h"

#include <map>
#include <mutex>
#include <string>

#include "comm/comport_settings.h"
#include "comm/comportfunctions.h"

namespace {

std::string last_error;

// A write that makes no progress for this long has met a port that no longer drains.
constexpr ULONGLONG kWriteStallMs = 2000;

// How far past its limit a wait may end so that it ends in the driver rather than in a loop.
constexpr int64_t kRoundUpUs = 100;

// The read time-outs of each open port: those its owner set, and those the driver holds now. A
// wait leaves its blocking ones in the driver, and a read puts the owner's back only when they
// differ, so a reply loop that waits slice after slice asks the driver for nothing but the
// blocking read itself (under wine every call on a port is a round trip through its server).
// `quiet`: the last wait came back empty, so a read straight after it would find nothing
// either; a byte that comes meanwhile is the next wait's, which returns with it at once.
struct PortReads {
  COMMTIMEOUTS owner{};
  COMMTIMEOUTS in_driver{};
  bool quiet = false;
};
std::mutex ports_mutex;
std::map<HANDLE, PortReads> ports;

bool SameReads(const COMMTIMEOUTS& a, const COMMTIMEOUTS& b) {
  return a.ReadIntervalTimeout == b.ReadIntervalTimeout &&
         a.ReadTotalTimeoutMultiplier == b.ReadTotalTimeoutMultiplier &&
         a.ReadTotalTimeoutConstant == b.ReadTotalTimeoutConstant;
}

// Puts `wanted` into the driver unless it holds them already.
bool HoldReads(HANDLE handle, PortReads& reads, const COMMTIMEOUTS& wanted) {
  if (SameReads(reads.in_driver, wanted))
    return true;
  COMMTIMEOUTS copy = wanted;  // the API takes them by a pointer to non-const
  if (!SetCommTimeouts(handle, &copy))
    return false;
  reads.in_driver = wanted;
  return true;
}

// A read of what has come, with the owner's time-outs in the driver; false when the driver
// refused. Ports this file did not open are read as they are set.
bool ReadWithOwnerTimeouts(HANDLE handle, uint8_t* buffer, DWORD size, DWORD& read) {
  read = 0;
  {
    std::lock_guard<std::mutex> lock(ports_mutex);
    const auto port = ports.find(handle);
    if (port != ports.end()) {
      if (port->second.quiet) {
        port->second.quiet = false;
        return true;
      }
      if (!HoldReads(handle, port->second, port->second.owner))
        return false;
    }
  }
  return ReadFile(handle, buffer, size, &read, nullptr) != 0;
}

HANDLE OpenDevice(const std::string& name) {
  return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                     nullptr);
}

void Fail(const std::string& name, DWORD error) {
  std::string text;
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      text = "порт не знайдено";
      break;
    case ERROR_ACCESS_DENIED:
      text = "доступ заборонено (порт зайнятий іншою програмою)";
      break;
    case ERROR_GEN_FAILURE:
      text = "пристрій не працює";
      break;
    default:
      text = "системна помилка Windows " + std::to_string(error);
  }
  last_error = name + ": " + text;
}

int64_t CounterNow() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

// Sleeps until the counter reaches `deadline`, in whole milliseconds rounded up.
void SleepUntil(int64_t deadline, int64_t frequency) {
  for (int64_t left = deadline - CounterNow(); left > 0; left = deadline - CounterNow()) {
    Sleep(static_cast<DWORD>((left * 1000 + frequency - 1) / frequency));
  }
}

}  // namespace

void SetComPortsFolder(const std::string& /*folder*/) {}

std::string ComPortDevicePath(int n) {
  // The device namespace works for every number; plain "COM10" and up would not open.
  if (n < 1)
    return {};
  return "\\\\.\\COM" + std::to_string(n);
}

bool ComPortExists(int n) {
  const std::string name = ComPortDevicePath(n);
  if (name.empty())
    return false;
  const HANDLE h = OpenDevice(name);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return true;
  }
  const DWORD error = GetLastError();
  return error == ERROR_ACCESS_DENIED || error == ERROR_GEN_FAILURE;
}

ComHandle OpenComPort(int port, int32_t rate, int data_bits, int parity_code, int stop_code,
                      uint32_t in_queue, uint32_t out_queue, bool dtr, bool rts) {
  last_error.clear();
  const std::string name = ComPortDevicePath(port);
  if (name.empty()) {
    last_error = "COM" + std::to_string(port) + ": цьому номеру порту не відповідає жоден пристрій";
    return kNoComHandle;
  }
  const HANDLE h = OpenDevice(name);
  if (h == INVALID_HANDLE_VALUE) {
    Fail(name, GetLastError());
    return kNoComHandle;
  }
  DCB dcb;
  if (!GetCommState(h, &dcb)) {
    // Start from a known state rather than from whatever the stack held. Binary mode is the
    // only mode Windows supports.
    dcb = DCB{};
    dcb.DCBlength = sizeof(DCB);
    dcb.fBinary = TRUE;
  }
  const ComSettings s = ComSettingsFor(rate, data_bits, parity_code, stop_code);
  dcb.BaudRate = static_cast<DWORD>(s.rate);
  dcb.ByteSize = static_cast<BYTE>(s.data_bits);
  dcb.Parity = s.parity == ComParity::kEven  ? EVENPARITY
               : s.parity == ComParity::kOdd ? ODDPARITY
                                             : NOPARITY;
  dcb.StopBits = s.stop_bits == ComStopBits::kOneAndHalf ? ONE5STOPBITS
                 : s.stop_bits == ComStopBits::kTwo      ? TWOSTOPBITS
                                                         : ONESTOPBIT;
  dcb.fDtrControl = dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  dcb.fRtsControl = rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
  if (!SetCommState(h, &dcb) || !SetupComm(h, in_queue, out_queue)) {
    Fail(name, GetLastError());
    CloseHandle(h);
    return kNoComHandle;
  }
  COMMTIMEOUTS timeouts{};
  GetCommTimeouts(h, &timeouts);
  std::lock_guard<std::mutex> lock(ports_mutex);
  ports[h] = PortReads{timeouts, timeouts, false};
  return h;
}

bool SetComTimeouts(ComHandle handle, uint32_t interval, uint32_t multiplier, uint32_t constant) {
  COMMTIMEOUTS t;
  if (!GetCommTimeouts(handle, &t))
    return false;
  t.ReadIntervalTimeout = interval;
  t.ReadTotalTimeoutMultiplier = multiplier;
  t.ReadTotalTimeoutConstant = constant;
  if (!SetCommTimeouts(handle, &t))
    return false;
  std::lock_guard<std::mutex> lock(ports_mutex);
  if (const auto port = ports.find(handle); port != ports.end())
    port->second = PortReads{t, t, false};
  return true;
}

bool ClearComErrors(ComHandle handle) {
  DWORD errors = 0;
  COMSTAT status;
  return ClearCommError(handle, &errors, &status) != 0;
}

bool ComPortGone(ComHandle handle) {
  DWORD errors = 0;
  COMSTAT status;
  if (ClearCommError(handle, &errors, &status) != 0)
    return false;
  // What a handle to a USB adapter that was pulled out answers from then on.
  const DWORD error = GetLastError();
  return error == ERROR_ACCESS_DENIED || error == ERROR_BAD_COMMAND ||
         error == ERROR_DEVICE_REMOVED || error == ERROR_GEN_FAILURE ||
         error == ERROR_OPERATION_ABORTED || error == ERROR_INVALID_HANDLE;
}

std::string ComPortAdapterName(int, const std::string&) {
  return {};
}

bool ComPortPresent(int n) {
  return ComPortExists(n);
}

uint64_t GetTickFrequency() {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return static_cast<uint64_t>(f.QuadPart);
}

void CloseComPort(ComHandle handle) {
  if (handle == kNoComHandle || handle == nullptr)
    return;
  {
    std::lock_guard<std::mutex> lock(ports_mutex);
    ports.erase(handle);
  }
  CloseHandle(handle);
}

bool SetComDtr(ComHandle handle, bool on) {
  return EscapeCommFunction(handle, on ? SETDTR : CLRDTR) != 0;
}

std::string LastComPortError() {
  return last_error;
}

bool PurgeComPort(ComHandle handle) {
  {
    std::lock_guard<std::mutex> lock(ports_mutex);
    if (const auto port = ports.find(handle); port != ports.end())
      port->second.quiet = false;
  }
  return PurgeComm(handle, PURGE_TXCLEAR | PURGE_RXCLEAR) != 0;
}

bool SetComRts(ComHandle handle, bool on) {
  return EscapeCommFunction(handle, on ? SETRTS : CLRRTS) != 0;
}

bool WriteComPort(ComHandle handle, const uint8_t* data, size_t size) {
  // With write time-outs set, WriteFile may succeed having written part of the block; the
  // rest is sent in further calls.
  ULONGLONG stalled_since = 0;
  size_t done = 0;
  while (done < size) {
    const size_t chunk = size - done < MAXDWORD ? size - done : MAXDWORD;
    DWORD written = 0;
    if (!WriteFile(handle, data + done, static_cast<DWORD>(chunk), &written, nullptr)) {
      return false;
    }
    if (written > 0) {
      done += written;
      stalled_since = 0;
      continue;
    }
    const ULONGLONG now = GetTickCount64();
    if (stalled_since == 0) {
      stalled_since = now;
    } else if (now - stalled_since > kWriteStallMs) {
      return false;
    }
    Sleep(1);
  }
  return true;
}

SerialLine::ReadResult ReadComByte(ComHandle handle, uint8_t& byte) {
  size_t got = 0;
  return ReadComBytes(handle, &byte, 1, got);
}

SerialLine::ReadResult ReadComBytes(ComHandle handle, uint8_t* buffer, size_t capacity,
                                    size_t& got) {
  // Returns at once under the owner's (MAXDWORD, 0, 0) read time-outs.
  got = 0;
  DWORD read = 0;
  const DWORD size = static_cast<DWORD>(capacity < MAXDWORD ? capacity : MAXDWORD);
  if (!ReadWithOwnerTimeouts(handle, buffer, size, read))
    return SerialLine::ReadResult::kFailed;
  got = read;
  return read > 0 ? SerialLine::ReadResult::kByte : SerialLine::ReadResult::kNothing;
}

// The port is opened without overlapped I/O, and WaitCommEvent on such a handle blocks past
// any limit. So the wait is a read that blocks: with the read time-outs (MAXDWORD, MAXDWORD, C)
// ReadFile returns as soon as one byte has arrived, with all that have, or after C ms with
// none. The thread sleeps in the driver meanwhile; a silent port costs no wake-ups. Those
// time-outs stay in the driver until the next read that is not a wait.
int32_t ComIdleWaitMs() {
  return 40;
}

size_t WaitComInput(ComHandle handle, std::chrono::microseconds limit, uint8_t* buffer,
                    size_t capacity) {
  if (limit.count() <= 0 || capacity == 0)
    return 0;
  const int64_t frequency = static_cast<int64_t>(GetTickFrequency());
  const int64_t deadline =
      CounterNow() + static_cast<int64_t>(limit.count()) * frequency / 1'000'000;
  std::unique_lock<std::mutex> lock(ports_mutex);
  const auto port = ports.find(handle);
  if (port == ports.end()) {
    // Not a port of ours, or one closed meanwhile: sleep out the limit so no reply loop spins.
    lock.unlock();
    SleepUntil(deadline, frequency);
    return 0;
  }
  PortReads& reads = port->second;
  const DWORD size = static_cast<DWORD>(capacity < MAXDWORD ? capacity : MAXDWORD);
  size_t got = 0;
  bool failed = false;
  for (;;) {
    const int64_t left = deadline - CounterNow();
    if (left <= 0)
      break;
    // Whole milliseconds in the driver; the fraction that remains is waited for by looking
    // and yielding, so the wait never ends later than its limit on that account. A limit a
    // hair short of a whole millisecond (the callers' idle slices are whole milliseconds, less
    // the time spent getting here) is waited as that millisecond: yielding through the rest
    // would cost most of a millisecond of processor time on every slice.
    const int64_t whole_ms = (left + frequency * kRoundUpUs / 1'000'000) * 1000 / frequency;
    COMMTIMEOUTS blocking = reads.owner;
    blocking.ReadIntervalTimeout = MAXDWORD;
    blocking.ReadTotalTimeoutMultiplier = whole_ms > 0 ? MAXDWORD : 0;
    blocking.ReadTotalTimeoutConstant = static_cast<DWORD>(whole_ms);
    DWORD read = 0;
    if (!HoldReads(handle, reads, blocking) || !ReadFile(handle, buffer, size, &read, nullptr)) {
      failed = true;
      break;
    }
    if (read > 0) {
      got = read;
      break;
    }
    if (whole_ms == 0)
      Sleep(0);
  }
  reads.quiet = got == 0 && !failed;
  lock.unlock();
  // A latched line error is for the next read to report; a port that is gone is slept out.
  if (failed && ComPortGone(handle))
    SleepUntil(deadline, frequency);
  return got;
}
