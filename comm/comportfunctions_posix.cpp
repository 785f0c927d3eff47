#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "comm/clock.h"
#include "comm/comport_settings.h"
#include "comm/comport_termios.h"
#include "comm/comportfunctions.h"

namespace {

std::string ports_folder;
std::string last_error;

// A write that makes no progress for this long has met a line that no longer drains (a
// pseudo-terminal nobody reads, a stuck adapter). Frames are a few hundred bytes at most, far
// below the kernel's transmit buffer, so a live line never comes near it.
constexpr int64_t kWriteStallNs = 2'000'000'000;

int64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

timespec ToTimespec(int64_t ns) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
  ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
  return ts;
}

// One poll for at most `ns` nanoseconds; EINTR is left to the caller's deadline loop.
int PollFor(pollfd& p, int64_t ns) {
#if defined(__linux__) || defined(__FreeBSD__)
  const timespec ts = ToTimespec(ns);
  return ppoll(&p, 1, &ts, nullptr);
#else
  // poll() counts whole milliseconds: round up so the wait never ends before its deadline.
  return poll(&p, 1, static_cast<int>((ns + 999'999) / 1'000'000));
#endif
}

void SleepUntil(int64_t deadline_ns) {
  for (int64_t left = deadline_ns - MonotonicNs(); left > 0; left = deadline_ns - MonotonicNs()) {
    const timespec ts = ToTimespec(left);
    nanosleep(&ts, nullptr);
  }
}

constexpr short kGone = POLLHUP | POLLERR | POLLNVAL;

int OpenDevice(const std::string& path) {
  int fd;
  do {
    fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool InGroup(gid_t gid) {
  if (getegid() == gid)
    return true;
  const int n = getgroups(0, nullptr);
  if (n <= 0)
    return false;
  std::vector<gid_t> groups(static_cast<size_t>(n));
  const int got = getgroups(n, groups.data());
  for (int i = 0; i < got; ++i) {
    if (groups[static_cast<size_t>(i)] == gid)
      return true;
  }
  return false;
}

// Serial devices belong to a group ("dialout" on Debian, "uucp" elsewhere) whose members may
// open them; a user outside it gets EACCES, and the fix is membership, not permissions on the
// node. root's own group is never offered: joining it is no fix anyone should follow. A device
// whose group gives no access can only be opened by its owner.
std::string PermissionHint(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0)
    return {};
  const bool group_may = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  if (group_may && st.st_gid != 0) {
    if (InGroup(st.st_gid))
      return {};
    const struct group* g = getgrgid(st.st_gid);
    const std::string name =
        g != nullptr && g->gr_name != nullptr ? std::string(g->gr_name) : std::to_string(st.st_gid);
    return " (користувач не входить до групи «" + name +
           "», якій належить пристрій: sudo usermod -aG " + name +
           " $USER, потім увійдіть до системи знову)";
  }
  if (st.st_uid == geteuid())
    return {};
  if (st.st_uid == 0)
    return " (пристрій доступний лише адміністратору системи: попросіть надати вам доступ)";
  const struct passwd* owner = getpwuid(st.st_uid);
  const std::string who = owner != nullptr && owner->pw_name != nullptr
                              ? std::string(owner->pw_name)
                              : std::to_string(st.st_uid);
  return " (пристрій належить іншому користувачу, «" + who +
         "», і його група не дає доступу до нього)";
}

// The system's reason in the user's language; one not expected on opening a port keeps its
// number, so that it can still be looked up.
std::string ReasonText(int err) {
  switch (err) {
    case ENOENT:
      return "пристрій не знайдено";
    case ENXIO:
    case ENODEV:
      return "пристрій відсутній (адаптер від'єднано?)";
    case EACCES:
    case EPERM:
      return "немає дозволу на доступ до пристрою";
    case EBUSY:
      return "порт зайнятий іншою програмою";
    case EIO:
      return "помилка введення-виведення на пристрої";
    case ELOOP:
      return "символьні посилання на пристрій утворюють петлю";
    case ENOTDIR:
      return "частина шляху до пристрою не є текою";
    case EISDIR:
      return "це тека, а не пристрій";
    case ENOTTY:
    case EINVAL:
      return "це не послідовний порт";
    case EROFS:
      return "пристрій на файловій системі лише для читання";
    case ETIMEDOUT:
      return "пристрій не відповів вчасно";
    case ENAMETOOLONG:
      return "задовгий шлях до пристрою";
    case EMFILE:
    case ENFILE:
      return "відкрито забагато файлів";
    case EAGAIN:
      return "пристрій тимчасово недоступний";
    case ENOMEM:
      return "бракує пам'яті";
    default:
      return "системна помилка " + std::to_string(err);
  }
}

void Fail(const std::string& path, const std::string& what) {
  last_error = path + ": " + what;
}

void FailErrno(const std::string& path, int err) {
  std::string text = ReasonText(err);
  if (err == EACCES || err == EPERM)
    text += PermissionHint(path);
  Fail(path, text);
}

// Sets or clears one modem line. A pseudo-terminal has none and answers ENOTTY (EINVAL on
// some systems): that is "not supported", reported as false but harmless.
bool SetModemLine(int fd, int line, bool on) {
  int bits = line;
  return ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

bool NoModemLines(int err) {
  return err == ENOTTY || err == EINVAL;
}

// What the driver kept of what was asked. Drivers drop what they cannot do without failing
// tcsetattr (a pseudo-terminal keeps only 8 data bits without parity, some adapters have no
// 5-bit mode), so the settings are read back.
std::string Mismatch(const termios& want, const termios& got) {
  if (cfgetospeed(&got) != cfgetospeed(&want))
    return "порт не підтримує цієї швидкості";
  if ((got.c_cflag & CSIZE) != (want.c_cflag & CSIZE)) {
    return "порт не підтримує такої кількості бітів даних";
  }
  const tcflag_t parity = PARENB | ((want.c_cflag & PARENB) ? PARODD : 0);
  if ((got.c_cflag & parity) != (want.c_cflag & parity)) {
    return "порт не підтримує такого контролю парності";
  }
  if ((got.c_cflag & CSTOPB) != (want.c_cflag & CSTOPB)) {
    return "порт не підтримує такої кількості стопових бітів";
  }
  return {};
}

// The exclusive flag lives in the tty, not in the descriptor: a pseudo-terminal's tty outlasts
// our close while its other end stays open, and would refuse every later open with EBUSY.
void CloseTty(int fd) {
  ioctl(fd, TIOCNXCL);
  close(fd);
}

class FdGuard {
 public:
  explicit FdGuard(int fd) : fd_(fd) {}
  ~FdGuard() {
    if (fd_ >= 0)
      CloseTty(fd_);
  }
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

}  // namespace

bool TermiosSpeedFor(int32_t rate, speed_t& speed) {
  struct Entry {
    int32_t rate;
    speed_t speed;
  };
  // The standard speeds within 110..256000. B134 is really 134.5 bit/s.
  static constexpr Entry kSpeeds[] = {
      {110, B110},       {134, B134},     {150, B150},     {200, B200},     {300, B300},
      {600, B600},       {1200, B1200},   {1800, B1800},   {2400, B2400},   {4800, B4800},
      {9600, B9600},     {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
#ifdef B230400
      {230400, B230400},
#endif
  };
  for (const Entry& e : kSpeeds) {
    if (e.rate == rate) {
      speed = e.speed;
      return true;
    }
  }
  return false;
}

bool ToTermios(const ComSettings& settings, termios& t, std::string* why) {
  speed_t speed{};
  if (!TermiosSpeedFor(settings.rate, speed)) {
    if (why)
      *why = "швидкість " + std::to_string(settings.rate) + " біт/с ця система встановити не може";
    return false;
  }
  tcflag_t size = CS8;
  switch (settings.data_bits) {
    case 5:
      size = CS5;
      break;
    case 6:
      size = CS6;
      break;
    case 7:
      size = CS7;
      break;
    case 8:
      size = CS8;
      break;
    default:
      if (why)
        *why = "кількість бітів даних " + std::to_string(settings.data_bits) +
               " тут встановити неможливо";
      return false;
  }
  // A UART sends one and a half stop bits when asked for two at 5 data bits; at 6 to 8 data
  // bits there is no such frame.
  if (settings.stop_bits == ComStopBits::kOneAndHalf && settings.data_bits != 5) {
    if (why)
      *why = "півтора стопових біти можливі лише з 5 бітами даних";
    return false;
  }

  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                      IXON | IXOFF | IXANY | INPCK);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tcflag_t cleared = CSIZE | PARENB | PARODD | CSTOPB;
#ifdef CRTSCTS
  cleared |= CRTSCTS;
#endif
#ifdef CMSPAR
  cleared |= CMSPAR;
#endif
  t.c_cflag &= ~cleared;
  t.c_cflag |= size | CREAD | CLOCAL;
  if (settings.parity == ComParity::kEven)
    t.c_cflag |= PARENB;
  if (settings.parity == ComParity::kOdd)
    t.c_cflag |= PARENB | PARODD;
  if (settings.stop_bits != ComStopBits::kOne)
    t.c_cflag |= CSTOPB;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  return true;
}

void SetComPortsFolder(const std::string& folder) {
  ports_folder = folder;
}

std::string ComPortDevicePath(int n) {
  if (n < 1)
    return {};
  if (!ports_folder.empty()) {
    const std::string entry = ports_folder + "/COM" + std::to_string(n);
    struct stat st {};
    // A mapping that points nowhere (an adapter unplugged) still owns its number: falling back
    // to the default table would quietly open some other device.
    if (lstat(entry.c_str(), &st) == 0) {
      if (!S_ISLNK(st.st_mode))
        return entry;
      std::vector<char> target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
      const ssize_t len = readlink(entry.c_str(), target.data(), target.size() - 1);
      if (len <= 0)
        return entry;
      std::string path(target.data(), static_cast<size_t>(len));
      return path.front() == '/' ? path : ports_folder + "/" + path;
    }
  }
  static constexpr struct {
    int first;
    const char* prefix;
  } kTable[] = {{1, "/dev/ttyS"}, {33, "/dev/ttyUSB"}, {65, "/dev/ttyACM"}};
  for (const auto& range : kTable) {
    if (n >= range.first && n < range.first + 32) {
      return range.prefix + std::to_string(n - range.first);
    }
  }
  return {};
}

bool ComPortExists(int n) {
  const std::string path = ComPortDevicePath(n);
  if (path.empty())
    return false;
  const int fd = OpenDevice(path);
  if (fd >= 0) {
    const bool tty = isatty(fd) == 1;
    close(fd);
    return tty;
  }
  // Busy (held exclusively) or not permitted: the port is there all the same. ENXIO, ENODEV
  // and EIO come from a device node without hardware behind it (a UART slot never fitted).
  if (errno != EACCES && errno != EBUSY)
    return false;
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

ComHandle OpenComPort(int port, int32_t rate, int data_bits, int parity_code, int stop_code,
                      uint32_t /*in_queue*/, uint32_t /*out_queue*/, bool dtr, bool rts) {
  last_error.clear();
  const std::string path = ComPortDevicePath(port);
  if (path.empty()) {
    Fail("COM" + std::to_string(port), "цьому номеру порту не відповідає жоден пристрій");
    return kNoComHandle;
  }
  const int raw_fd = OpenDevice(path);
  if (raw_fd < 0) {
    FailErrno(path, errno);
    return kNoComHandle;
  }
  FdGuard fd(raw_fd);
  if (isatty(raw_fd) != 1) {
    Fail(path, ReasonText(ENOTTY));
    return kNoComHandle;
  }
  // Only one program at a time on the line, as on Windows (root is not held back by it).
  if (ioctl(raw_fd, TIOCEXCL) != 0) {
    FailErrno(path, errno);
    return kNoComHandle;
  }
  termios want{};
  if (tcgetattr(raw_fd, &want) != 0) {
    FailErrno(path, errno);
    return kNoComHandle;
  }
  std::string why;
  if (!ToTermios(ComSettingsFor(rate, data_bits, parity_code, stop_code), want, &why)) {
    Fail(path, why);
    return kNoComHandle;
  }
  if (tcsetattr(raw_fd, TCSANOW, &want) != 0) {
    FailErrno(path, errno);
    return kNoComHandle;
  }
  termios got{};
  if (tcgetattr(raw_fd, &got) != 0) {
    FailErrno(path, errno);
    return kNoComHandle;
  }
  if (why = Mismatch(want, got); !why.empty()) {
    Fail(path, why);
    return kNoComHandle;
  }
  for (const auto& [line, on] : {std::pair{TIOCM_DTR, dtr}, std::pair{TIOCM_RTS, rts}}) {
    if (!SetModemLine(raw_fd, line, on) && !NoModemLines(errno)) {
      FailErrno(path, errno);
      return kNoComHandle;
    }
  }
  return fd.Release();
}

bool SetComTimeouts(ComHandle handle, uint32_t interval, uint32_t multiplier, uint32_t constant) {
  if (interval != kComMaxDword || multiplier != 0 || constant != 0)
    return false;
  termios t{};
  if (tcgetattr(handle, &t) != 0)
    return false;
  if (t.c_cc[VMIN] != 0 || t.c_cc[VTIME] != 0) {
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(handle, TCSANOW, &t) != 0)
      return false;
  }
  const int flags = fcntl(handle, F_GETFL);
  return flags != -1 && ((flags & O_NONBLOCK) || fcntl(handle, F_SETFL, flags | O_NONBLOCK) == 0);
}

bool ClearComErrors(ComHandle handle) {
  termios t{};
  return tcgetattr(handle, &t) == 0;
}

uint64_t GetTickFrequency() {
  return SystemClock::Instance().Frequency();
}

void CloseComPort(ComHandle handle) {
  if (handle >= 0)
    CloseTty(handle);
}

bool SetComDtr(ComHandle handle, bool on) {
  return SetModemLine(handle, TIOCM_DTR, on);
}

bool PurgeComPort(ComHandle handle) {
  return tcflush(handle, TCIOFLUSH) == 0;
}

bool SetComRts(ComHandle handle, bool on) {
  return SetModemLine(handle, TIOCM_RTS, on);
}

bool WriteComPort(ComHandle handle, const uint8_t* data, size_t size) {
  int64_t stall_deadline = MonotonicNs() + kWriteStallNs;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(handle, data + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      stall_deadline = MonotonicNs() + kWriteStallNs;
      continue;
    }
    if (n < 0 && errno == EINTR)
      continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
      return false;
    // The transmit buffer is full: wait for room.
    const int64_t left = stall_deadline - MonotonicNs();
    if (left <= 0)
      return false;
    pollfd p{handle, POLLOUT, 0};
    const int r = PollFor(p, left);
    if (r < 0 && errno != EINTR)
      return false;
    if (r > 0 && (p.revents & kGone))
      return false;
  }
  return true;
}

SerialLine::ReadResult ReadComByte(ComHandle handle, uint8_t& byte) {
  pollfd p{handle, POLLIN, 0};
  int r;
  do {
    r = poll(&p, 1, 0);
  } while (r < 0 && errno == EINTR);
  if (r < 0 || (p.revents & POLLNVAL))
    return SerialLine::ReadResult::kFailed;
  if (r == 0)
    return SerialLine::ReadResult::kNothing;
  if (p.revents & POLLIN) {
    ssize_t n;
    do {
      n = read(handle, &byte, 1);
    } while (n < 0 && errno == EINTR);
    if (n == 1)
      return SerialLine::ReadResult::kByte;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
      return SerialLine::ReadResult::kFailed;
  }
  // A tty that has been hung up (adapter pulled out, the other end of a pseudo-terminal
  // closed) polls readable and reads 0 bytes, exactly like an idle line set to return at once;
  // only the hang-up flag tells them apart.
  if (p.revents & (POLLHUP | POLLERR))
    return SerialLine::ReadResult::kFailed;
  return SerialLine::ReadResult::kNothing;
}

SerialLine::ReadResult ReadComBytes(ComHandle handle, uint8_t* buffer, size_t capacity,
                                    size_t& got) {
  got = 0;
  ssize_t n;
  do {
    n = read(handle, buffer, capacity);
  } while (n < 0 && errno == EINTR);
  if (n > 0) {
    got = static_cast<size_t>(n);
    return SerialLine::ReadResult::kByte;
  }
  if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
    return SerialLine::ReadResult::kFailed;
  // Nothing read: an idle line, or one that has been hung up, which reads the same; only the
  // hang-up flag tells them apart.
  pollfd p{handle, POLLIN, 0};
  int r;
  do {
    r = poll(&p, 1, 0);
  } while (r < 0 && errno == EINTR);
  if (r < 0 || (r > 0 && (p.revents & kGone)))
    return SerialLine::ReadResult::kFailed;
  return SerialLine::ReadResult::kNothing;
}

int32_t ComIdleWaitMs() {
  return kIdleWaitMs;
}

size_t WaitComInput(ComHandle handle, std::chrono::microseconds limit, uint8_t* /*buffer*/,
                    size_t /*capacity*/) {
  if (limit.count() <= 0)
    return 0;
  const int64_t deadline = MonotonicNs() + static_cast<int64_t>(limit.count()) * 1000;
  for (;;) {
    const int64_t left = deadline - MonotonicNs();
    if (left <= 0)
      return 0;
    pollfd p{handle, POLLIN, 0};
    const int r = PollFor(p, left);
    if (r < 0 && errno == EINTR)
      continue;
    // A dead line would answer every poll at once; waiting out the limit keeps the callers'
    // reply loops from spinning on it.
    if (r < 0 || (r > 0 && (p.revents & kGone))) {
      SleepUntil(deadline);
      return 0;
    }
    if (r > 0)
      return 0;
  }
}

bool ComPortGone(ComHandle handle) {
  pollfd p{handle, POLLIN, 0};
  int r;
  do {
    r = poll(&p, 1, 0);
  } while (r < 0 && errno == EINTR);
  return r < 0 || (r > 0 && (p.revents & kGone) != 0);
}

bool ComPortPresent(int n) {
  const std::string path = ComPortDevicePath(n);
  struct stat st {};
  // stat follows the ports-folder link: a link left behind by a device that went is absent.
  return !path.empty() && stat(path.c_str(), &st) == 0;
}

std::string ComPortAdapterName(int n, const std::string& by_id_folder) {
  namespace fs = std::filesystem;
  std::error_code error;
  const std::string path = ComPortDevicePath(n);
  if (path.empty())
    return {};
  const fs::path device = fs::canonical(path, error);
  if (error)
    return {};
  for (const fs::directory_entry& entry : fs::directory_iterator(by_id_folder, error)) {
    std::error_code again;
    if (fs::canonical(entry.path(), again) == device && !again)
      return entry.path().filename().string();
  }
  return {};
}

std::string LastComPortError() {
  return last_error;
}
