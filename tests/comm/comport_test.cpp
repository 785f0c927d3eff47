#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "comm/clock.h"
#include "comm/comport_line.h"
#include "comm/comport_settings.h"
#include "comm/comport_termios.h"
#include "comm/comportfunctions.h"
#include "sim/child_process.h"

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using ReadResult = SerialLine::ReadResult;

int OpenFdCount() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr)
      ++count;
    closedir(dir);
  }
  return count;
}

// --- What OpenComPort makes of its arguments -------------------------------------------------

TEST(ComSettingsFor, LimitsRateAndDataBitsAndDecodesParityAndStopCodes) {
  EXPECT_EQ(ComSettingsFor(50, 8, 0, 0).rate, 110);
  EXPECT_EQ(ComSettingsFor(-9600, 8, 0, 0).rate, 110);
  EXPECT_EQ(ComSettingsFor(9600, 8, 0, 0).rate, 9600);
  EXPECT_EQ(ComSettingsFor(256000, 8, 0, 0).rate, 256000);
  EXPECT_EQ(ComSettingsFor(300000, 8, 0, 0).rate, 256000);
  EXPECT_EQ(ComSettingsFor(INT32_MAX, 8, 0, 0).rate, 256000);

  for (int bits = -3; bits <= 20; ++bits) {
    const int expected = bits < 4 ? 4 : bits > 8 ? 8 : bits;
    EXPECT_EQ(ComSettingsFor(9600, bits, 0, 0).data_bits, expected) << bits;
  }
  for (int code = -3; code <= 10; ++code) {
    const ComParity parity = code == 1   ? ComParity::kEven
                             : code == 2 ? ComParity::kOdd
                                         : ComParity::kNone;
    EXPECT_EQ(ComSettingsFor(9600, 8, code, 0).parity, parity) << code;
    const ComStopBits stop = code == 1   ? ComStopBits::kOneAndHalf
                             : code == 2 ? ComStopBits::kTwo
                                         : ComStopBits::kOne;
    EXPECT_EQ(ComSettingsFor(9600, 8, 0, code).stop_bits, stop) << code;
  }
}

termios Blank() {
  termios t{};
  // What a fresh tty starts with: cooked, echoing, translating, flow control on.
  t.c_iflag = ICRNL | IXON | IXOFF | ISTRIP;
  t.c_oflag = OPOST | ONLCR;
  t.c_lflag = ECHO | ICANON | ISIG | IEXTEN;
  t.c_cflag = CS7 | PARENB | HUPCL | CRTSCTS;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 5;
  return t;
}

TEST(ToTermios, MakesARawLineWithTheRequestedFrame) {
  termios t = Blank();
  ASSERT_TRUE(ToTermios(ComSettingsFor(9600, 8, 0, 0), t, nullptr));
  EXPECT_EQ(cfgetospeed(&t), B9600);
  EXPECT_EQ(cfgetispeed(&t), B9600);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
  EXPECT_EQ(t.c_cflag & HUPCL, static_cast<tcflag_t>(HUPCL)) << "unrelated bits stay";
  EXPECT_EQ(t.c_iflag & (ICRNL | IXON | IXOFF | ISTRIP), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);

  struct Case {
    int data_bits, parity_code, stop_code;
    tcflag_t size, parity, stop;
  } cases[] = {{7, 1, 2, CS7, PARENB, CSTOPB},
               {6, 2, 0, CS6, PARENB | PARODD, 0},
               {5, 7, 1, CS5, 0, CSTOPB},
               {9, 0, 5, CS8, 0, 0},
               {8, 2, 2, CS8, PARENB | PARODD, CSTOPB}};
  for (const Case& c : cases) {
    termios u = Blank();
    ASSERT_TRUE(
        ToTermios(ComSettingsFor(1200, c.data_bits, c.parity_code, c.stop_code), u, nullptr));
    EXPECT_EQ(u.c_cflag & CSIZE, c.size) << c.data_bits;
    EXPECT_EQ(u.c_cflag & (PARENB | PARODD), c.parity) << c.parity_code;
    EXPECT_EQ(u.c_cflag & CSTOPB, c.stop) << c.stop_code;
  }
}

TEST(ToTermios, EveryStandardRateMapsExactlyAndOthersAreRefused) {
  const int32_t standard[] = {110,  134,  150,  200,   300,   600,   1200,   1800,
                              2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
  for (int32_t rate : standard) {
    speed_t speed{};
    EXPECT_TRUE(TermiosSpeedFor(rate, speed)) << rate;
  }
  // Only the standard rates map, and each to its own speed.
  std::vector<speed_t> seen;
  for (int32_t rate = kMinComRate; rate <= kMaxComRate; ++rate) {
    speed_t speed{};
    if (!TermiosSpeedFor(rate, speed))
      continue;
    EXPECT_NE(std::find(std::begin(standard), std::end(standard), rate), std::end(standard));
    EXPECT_EQ(std::find(seen.begin(), seen.end(), speed), seen.end()) << rate;
    seen.push_back(speed);
  }
  EXPECT_EQ(seen.size(), std::size(standard));

  // The limit 256000 is no termios speed: refused, not quietly set to something near it.
  std::string why;
  termios t = Blank();
  EXPECT_FALSE(ToTermios(ComSettingsFor(300000, 8, 0, 0), t, &why));
  EXPECT_NE(why.find("256000"), std::string::npos) << why;
  speed_t speed{};
  EXPECT_TRUE(TermiosSpeedFor(ComSettingsFor(50, 8, 0, 0).rate, speed));
  EXPECT_EQ(speed, B110);
}

TEST(ToTermios, RefusesFramesTermiosCannotCarry) {
  std::string why;
  termios t = Blank();
  EXPECT_FALSE(ToTermios(ComSettingsFor(9600, 2, 0, 0), t, &why)) << "4 data bits";
  EXPECT_FALSE(why.empty());
  for (int bits = 6; bits <= 8; ++bits) {
    why.clear();
    EXPECT_FALSE(ToTermios(ComSettingsFor(9600, bits, 0, 1), t, &why)) << bits;
    EXPECT_FALSE(why.empty());
  }
}

// --- Over a real pseudo-terminal -------------------------------------------------------------

constexpr int kPort = 7;

class PtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0)
      GTEST_SKIP() << "no pseudo-terminals here";
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname(master_) == nullptr) {
      GTEST_SKIP() << "pseudo-terminal could not be set up";
    }
    slave_path_ = ptsname(master_);
    char tmpl[] = "/tmp/vorlix-ports-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    folder_ = tmpl;
    chmod(folder_.c_str(), 0755);  // so a less privileged child can look inside
    Map(kPort, slave_path_);
    SetComPortsFolder(folder_);
  }

  void TearDown() override {
    SetComPortsFolder("");
    if (handle_ != kNoComHandle)
      CloseComPort(handle_);
    if (master_ >= 0)
      close(master_);
    if (!folder_.empty())
      std::filesystem::remove_all(folder_);
  }

  void Map(int n, const std::string& target) {
    const std::string link = folder_ + "/COM" + std::to_string(n);
    unlink(link.c_str());
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  }

  void Open(int32_t rate = 9600) {
    handle_ = OpenComPort(kPort, rate, 8, 0, 0, 1000, 1000, true, false);
    ASSERT_NE(handle_, kNoComHandle) << LastComPortError();
    ASSERT_TRUE(SetComTimeouts(handle_, kComMaxDword, 0, 0));
  }

  // Everything the master side receives within `limit`, up to `count` bytes.
  std::vector<uint8_t> ReadMaster(size_t count, milliseconds limit = milliseconds(5000)) {
    std::vector<uint8_t> got;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0)
        continue;
      uint8_t buf[4096];
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0)
        break;
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }

  // Reads `count` bytes through the line, waiting in short steps; gives up after many passes.
  std::vector<uint8_t> ReadLine(ComPortLine& line, size_t count) {
    std::vector<uint8_t> got;
    for (int pass = 0; pass < 20000 && got.size() < count; ++pass) {
      uint8_t b = 0;
      const ReadResult r = line.ReadByte(b);
      if (r == ReadResult::kByte) {
        got.push_back(b);
      } else {
        EXPECT_EQ(r, ReadResult::kNothing);
        line.WaitForInput(milliseconds(5));
      }
    }
    return got;
  }

  // Runs `check` in a child without root's privileges (root ignores both exclusive opens and
  // file modes); in place when not root. The child's exit status is the check's result.
  static bool AsOrdinaryUser(const std::function<bool()>& check) {
    if (geteuid() != 0)
      return check();
    ChildProcess child;
    return child.Fork([&check] {
      if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
        return 2;
      return check() ? 0 : 1;
    }) && child.WaitExit(std::chrono::minutes(1)) == 0;
  }

  int master_ = -1;
  std::string slave_path_;
  std::string folder_;
  ComHandle handle_ = kNoComHandle;
};

TEST_F(PtyTest, MappedPortIsFoundPresentAndOpens) {
  EXPECT_EQ(ComPortDevicePath(kPort), slave_path_);
  EXPECT_TRUE(ComPortExists(kPort));
  Open();
  EXPECT_TRUE(LastComPortError().empty());
  EXPECT_TRUE(ComPortExists(kPort)) << "a port in use is still present";

  // A relative link is taken relative to the ports folder.
  Map(kPort + 1, "COM" + std::to_string(kPort));
  EXPECT_EQ(ComPortDevicePath(kPort + 1), folder_ + "/COM" + std::to_string(kPort));
}

TEST_F(PtyTest, NumbersWithoutADeviceAreAbsent) {
  // A mapping whose device is gone keeps its number: no fall back to /dev/ttyS3.
  Map(4, folder_ + "/unplugged");
  EXPECT_EQ(ComPortDevicePath(4), folder_ + "/unplugged");
  EXPECT_FALSE(ComPortExists(4));
  EXPECT_EQ(OpenComPort(4, 9600, 8, 0, 0, 1000, 1000, true, false), kNoComHandle);
  EXPECT_NE(LastComPortError().find("unplugged"), std::string::npos) << LastComPortError();

  // Something that opens but is no tty.
  const std::string file = folder_ + "/plain";
  std::fclose(std::fopen(file.c_str(), "w"));
  Map(5, file);
  EXPECT_FALSE(ComPortExists(5));
  EXPECT_EQ(OpenComPort(5, 9600, 8, 0, 0, 1000, 1000, true, false), kNoComHandle);

  for (int n : {0, -1, 97, 255}) {
    EXPECT_EQ(ComPortDevicePath(n), "") << n;
    EXPECT_FALSE(ComPortExists(n)) << n;
    EXPECT_EQ(OpenComPort(n, 9600, 8, 0, 0, 1000, 1000, true, false), kNoComHandle);
  }
}

TEST_F(PtyTest, FailedOpensSayWhyInUkrainian) {
  const std::string plain = folder_ + "/plain";
  std::fclose(std::fopen(plain.c_str(), "w"));
  Map(10, folder_ + "/unplugged");
  Map(11, "COM11");  // a link to itself
  Map(12, plain + "/tty");
  Map(13, folder_);
  Map(14, plain);
  const struct {
    int port;
    const char* reason;
  } kCases[] = {
      {10, "пристрій не знайдено"},
      {11, "символьні посилання на пристрій утворюють петлю"},
      {12, "частина шляху до пристрою не є текою"},
      {13, "це тека, а не пристрій"},
      {14, "це не послідовний порт"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(OpenComPort(c.port, 9600, 8, 0, 0, 1000, 1000, true, false), kNoComHandle);
    EXPECT_EQ(LastComPortError(), ComPortDevicePath(c.port) + ": " + c.reason) << c.port;
  }
  // Settings the line cannot carry are told in the same language, with the value refused.
  EXPECT_EQ(OpenComPort(kPort, 300000, 8, 0, 0, 1000, 1000, true, false), kNoComHandle);
  EXPECT_EQ(LastComPortError(),
            slave_path_ + ": швидкість 256000 біт/с ця система встановити не може");
}

TEST(ComPortDevicePath, DefaultTableWithoutMappings) {
  SetComPortsFolder("");
  EXPECT_EQ(ComPortDevicePath(1), "/dev/ttyS0");
  EXPECT_EQ(ComPortDevicePath(32), "/dev/ttyS31");
  EXPECT_EQ(ComPortDevicePath(33), "/dev/ttyUSB0");
  EXPECT_EQ(ComPortDevicePath(64), "/dev/ttyUSB31");
  EXPECT_EQ(ComPortDevicePath(65), "/dev/ttyACM0");
  EXPECT_EQ(ComPortDevicePath(96), "/dev/ttyACM31");
  EXPECT_EQ(ComPortDevicePath(97), "");
  // An unmapped number in a folder with mappings uses the table.
  SetComPortsFolder("/nonexistent-vorlix-folder");
  EXPECT_EQ(ComPortDevicePath(40), "/dev/ttyUSB7");
  SetComPortsFolder("");
}

TEST_F(PtyTest, BusyAndForbiddenPortsArePresentButDoNotOpen) {
  Open();
  chmod(slave_path_.c_str(), 0666);
  EXPECT_TRUE(AsOrdinaryUser([] {
    return ComPortExists(kPort) &&
           OpenComPort(kPort, 9600, 8, 0, 0, 1000, 1000, true, false) == kNoComHandle &&
           LastComPortError().find("порт зайнятий іншою програмою") != std::string::npos;
  })) << "held exclusively";
  CloseComPort(handle_);
  handle_ = kNoComHandle;
  EXPECT_TRUE(AsOrdinaryUser([] {
    for (int i = 0; i < 2; ++i) {
      const ComHandle h = OpenComPort(kPort, 9600, 8, 0, 0, 1000, 1000, true, false);
      if (h == kNoComHandle)
        return false;
      CloseComPort(h);
    }
    return true;
  })) << "free again once closed";

  // The hint names the device's group to join (by number when it has no name), its owner
  // when the group gives no access, and never root: its group is no group to join.
  const auto refused_with = [](const std::string& hint) {
    return AsOrdinaryUser([hint] {
      return ComPortExists(kPort) &&
             OpenComPort(kPort, 9600, 8, 0, 0, 1000, 1000, true, false) == kNoComHandle &&
             LastComPortError().find("немає дозволу") != std::string::npos &&
             LastComPortError().find(hint) != std::string::npos &&
             LastComPortError().find("root") == std::string::npos;
    });
  };
  struct stat st {};
  ASSERT_EQ(stat(slave_path_.c_str(), &st), 0);
  if (geteuid() != 0) {
    chmod(slave_path_.c_str(), 0);  // even its owner is refused
    EXPECT_TRUE(refused_with("")) << "no access";
    chmod(slave_path_.c_str(), 0620);
    return;
  }
  const auto owned = [&](uid_t uid, gid_t gid, mode_t mode) {
    ASSERT_EQ(chown(slave_path_.c_str(), uid, gid), 0);
    chmod(slave_path_.c_str(), mode);
  };
  constexpr gid_t kUnnamedGroup = 54321;
  ASSERT_EQ(getgrgid(kUnnamedGroup), nullptr);
  owned(0, kUnnamedGroup, 0660);
  EXPECT_TRUE(refused_with("групи «54321»")) << "unnamed group";
  if (const struct group* g = getgrnam("dialout")) {
    owned(0, g->gr_gid, 0660);
    EXPECT_TRUE(refused_with("групи «dialout»")) << "group";
  }
  owned(0, 0, 0660);
  EXPECT_TRUE(refused_with("адміністратору")) << "root's own group";
  owned(0, kUnnamedGroup, 0600);
  EXPECT_TRUE(refused_with("адміністратору")) << "root only";
  owned(1, kUnnamedGroup, 0600);
  const struct passwd* other = getpwuid(1);
  EXPECT_TRUE(refused_with("належить іншому користувачу, «" +
                           (other ? std::string(other->pw_name) : std::string("1")) + "»"))
      << "another user only";
  owned(st.st_uid, st.st_gid, 0620);
}

TEST_F(PtyTest, OpenSetsARawNonBlockingLineAtTheLimitedRate) {
  handle_ = OpenComPort(kPort, 50, 9, 7, 5, 1000, 1000, true, false);
  ASSERT_NE(handle_, kNoComHandle) << LastComPortError();
  termios t{};
  ASSERT_EQ(tcgetattr(handle_, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B110);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_NE(fcntl(handle_, F_GETFL) & O_NONBLOCK, 0);
  CloseComPort(handle_);

  handle_ = OpenComPort(kPort, 115200, 8, 0, 0, 1000, 1000, true, true);
  ASSERT_NE(handle_, kNoComHandle) << LastComPortError();
  ASSERT_EQ(tcgetattr(handle_, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B115200);
  CloseComPort(handle_);
  handle_ = kNoComHandle;
}

TEST_F(PtyTest, SettingsThePortCannotTakeFailTheOpenAndLeaveNothingOpen) {
  const int before = OpenFdCount();
  EXPECT_EQ(OpenComPort(kPort, 300000, 8, 0, 0, 1000, 1000, true, false), kNoComHandle);
  EXPECT_NE(LastComPortError().find("256000"), std::string::npos) << LastComPortError();
  EXPECT_EQ(OpenComPort(kPort, 9600, 2, 0, 0, 1000, 1000, true, false), kNoComHandle);

  // Whatever the pseudo-terminal keeps of 7 data bits with even parity (Linux keeps only 8
  // bits without parity), the open either shows exactly that or fails.
  {
    const int fd = open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios t{};
    tcgetattr(fd, &t);
    t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE | PARODD)) | CS7 | PARENB;
    tcsetattr(fd, TCSANOW, &t);
    tcgetattr(fd, &t);
    close(fd);
    const bool keeps = (t.c_cflag & CSIZE) == CS7 && (t.c_cflag & PARENB);
    handle_ = OpenComPort(kPort, 9600, 7, 1, 0, 1000, 1000, true, false);
    EXPECT_EQ(handle_ != kNoComHandle, keeps) << LastComPortError();
    if (handle_ != kNoComHandle) {
      CloseComPort(handle_);
      handle_ = kNoComHandle;
    }
  }
  EXPECT_EQ(OpenFdCount(), before);
}

TEST_F(PtyTest, TimeoutsOtherThanReturnAtOnceAreRefused) {
  Open();
  EXPECT_TRUE(SetComTimeouts(handle_, kComMaxDword, 0, 0));
  EXPECT_FALSE(SetComTimeouts(handle_, 0, 0, 0));
  EXPECT_FALSE(SetComTimeouts(handle_, kComMaxDword, kComMaxDword, 100));
  EXPECT_TRUE(ClearComErrors(handle_));
  EXPECT_EQ(GetTickFrequency(), SystemClock::Instance().Frequency());
}

TEST_F(PtyTest, EveryByteValueCrossesUnchangedBothWays) {
  Open();
  ComPortLine line(handle_);
  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i)
    all[static_cast<size_t>(i)] = static_cast<uint8_t>(i);

  ASSERT_TRUE(line.Write(all.data(), all.size()));
  EXPECT_EQ(ReadMaster(all.size()), all);

  ASSERT_EQ(write(master_, all.data(), all.size()), 256);
  EXPECT_EQ(ReadLine(line, all.size()), all);
}

TEST_F(PtyTest, BlockLargerThanTheTerminalBufferIsWrittenWhole) {
  Open();
  ComPortLine line(handle_);
  std::vector<uint8_t> block(256 * 1024);
  for (size_t i = 0; i < block.size(); ++i)
    block[i] = static_cast<uint8_t>(i * 7 + i / 256);
  std::vector<uint8_t> got;
  std::thread reader([&] { got = ReadMaster(block.size(), milliseconds(20000)); });
  const bool written = line.Write(block.data(), block.size());
  reader.join();
  EXPECT_TRUE(written);
  EXPECT_EQ(got.size(), block.size());
  EXPECT_TRUE(got == block);
}

TEST_F(PtyTest, IdleLineReadsNothingAndWaitEndsWhenAByteArrives) {
  Open();
  ComPortLine line(handle_);
  uint8_t b = 0;
  EXPECT_EQ(line.ReadByte(b), ReadResult::kNothing);

  // Waits out its limit when nothing comes.
  auto start = std::chrono::steady_clock::now();
  line.WaitForInput(milliseconds(30));
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(30));
  EXPECT_EQ(line.ReadByte(b), ReadResult::kNothing);

  // Ends early for a byte sent while it waits; the limit is far beyond the test's time-out.
  std::thread sender([&] {
    std::this_thread::sleep_for(milliseconds(20));
    const uint8_t x = 0xA5;
    (void)!write(master_, &x, 1);
  });
  line.WaitForInput(std::chrono::seconds(600));
  sender.join();
  ASSERT_EQ(line.ReadByte(b), ReadResult::kByte);
  EXPECT_EQ(b, 0xA5);
  EXPECT_EQ(line.ReadByte(b), ReadResult::kNothing);
}

TEST_F(PtyTest, PurgeDropsWhatWaits) {
  Open();
  ComPortLine line(handle_);
  const uint8_t junk[] = {1, 2, 3};
  ASSERT_EQ(write(master_, junk, sizeof junk), 3);
  line.WaitForInput(milliseconds(1000));
  EXPECT_TRUE(line.Purge());
  uint8_t b = 0;
  EXPECT_EQ(line.ReadByte(b), ReadResult::kNothing);
}

TEST_F(PtyTest, ABurstIsHandedOutByteByByteAndPurgedWithThePort) {
  Open();
  ComPortLine line(handle_);
  const uint8_t burst[] = {0x11, 0x22, 0x33, 0x44};
  ASSERT_EQ(write(master_, burst, sizeof burst), 4);
  line.WaitForInput(milliseconds(1000));
  uint8_t b = 0;
  ASSERT_EQ(line.ReadByte(b), ReadResult::kByte);
  EXPECT_EQ(b, 0x11);
  // The rest is already taken from the port: a wait must not outlast it (the limit is far
  // beyond the test's time-out), and a byte sent later comes after it.
  const uint8_t later = 0x55;
  ASSERT_EQ(write(master_, &later, 1), 1);
  line.WaitForInput(std::chrono::seconds(600));
  std::vector<uint8_t> got;
  while (got.size() < 4) {
    if (line.ReadByte(b) == ReadResult::kByte)
      got.push_back(b);
    else
      line.WaitForInput(milliseconds(1000));
  }
  EXPECT_EQ(got, (std::vector<uint8_t>{0x22, 0x33, 0x44, 0x55}));

  // A purge drops what the line holds as well as what the port does.
  ASSERT_EQ(write(master_, burst, sizeof burst), 4);
  line.WaitForInput(milliseconds(1000));
  ASSERT_EQ(line.ReadByte(b), ReadResult::kByte);
  EXPECT_TRUE(line.Purge());
  EXPECT_EQ(line.ReadByte(b), ReadResult::kNothing);
}

TEST_F(PtyTest, ClosedOtherEndFailsReadsAndWaitsNeverSpin) {
  Open();
  ComPortLine line(handle_);
  close(master_);
  master_ = -1;

  uint8_t b = 0;
  EXPECT_EQ(line.ReadByte(b), ReadResult::kFailed);
  const uint8_t x = 1;
  EXPECT_FALSE(line.Write(&x, 1));
  EXPECT_FALSE(line.ClearErrors());

  // A reply loop on the dead line: each wait sleeps out its 5 ms, so 50 ms hold few passes.
  int passes = 0;
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - start < milliseconds(50)) {
    line.WaitForInput(milliseconds(5));
    ++passes;
  }
  EXPECT_LE(passes, 11);
}

TEST_F(PtyTest, ModemLinesOnAPseudoTerminalAreHarmless) {
  Open();
  ComPortLine line(handle_);
  // A pseudo-terminal has no RTS or DTR: either answer is fine, the line must stay usable.
  (void)line.SetRts(true);
  (void)line.SetRts(false);
  (void)SetComDtr(handle_, true);
  (void)SetComDtr(handle_, false);
  const uint8_t x = 0x55;
  ASSERT_TRUE(line.Write(&x, 1));
  EXPECT_EQ(ReadMaster(1), std::vector<uint8_t>{0x55});
}

TEST_F(PtyTest, PresenceScanLeavesNoDescriptorOpen) {
  Map(9, folder_ + "/gone");
  const int before = OpenFdCount();
  int present = 0;
  for (int n = 1; n <= 255; ++n)
    present += ComPortExists(n) ? 1 : 0;
  EXPECT_GE(present, 1);
  EXPECT_EQ(OpenFdCount(), before);
}

}  // namespace
