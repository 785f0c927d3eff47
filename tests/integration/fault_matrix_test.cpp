// Both exchanges over the real serial layer on a pseudo-terminal against a device that answers
// with each fault a line shows: every fault ends with its code (or the reply is found after
// all), within the time-outs, and the transaction after it succeeds with its own reply.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "comm/calcbox.h"
#include "comm/modbusbox.h"
#include "sim/pty_server.h"
#include "tests/support/com_link.h"
#include "tests/support/sealed_frame.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kPort = 243;
constexpr int32_t kFirstByteMs = 300;
constexpr int32_t kGapMs = 60;
constexpr uint64_t kByteUs = 600;  // a little more than a byte's time at 19200 bit/s

// An answer: bytes and when each arrives after the request, on the server's clock.
struct Timed {
  Bytes bytes;
  uint64_t delay_us = 5000;
  size_t gap_before = 0;  // index of the byte that comes late, 0 for none
  uint64_t gap_us = 0;
};

// Answers each request with the next queued answer (none: silence), with the request's echo
// ahead of it when asked to. Used from the server's thread and the test's, hence the lock.
class MatrixDevice final : public LineDevice {
 public:
  void Then(Timed answer, bool echo = false) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_.push_back({std::move(answer), echo});
  }

  std::vector<TimedByte> Receive(const Bytes& request, uint64_t now_us) override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<TimedByte> out;
    if (script_.empty())
      return out;
    auto [answer, echo] = std::move(script_.front());
    script_.pop_front();
    uint64_t at = now_us;
    if (echo) {
      for (const uint8_t b : request)
        out.push_back({at += kByteUs, b});
    }
    at += answer.delay_us;
    for (size_t i = 0; i < answer.bytes.size(); ++i) {
      if (i > 0 && i == answer.gap_before)
        at += answer.gap_us;
      out.push_back({at += kByteUs, answer.bytes[i]});
    }
    return out;
  }

 private:
  std::mutex mutex_;
  std::deque<std::pair<Timed, bool>> script_;
};

struct Row {
  std::string fault;
  std::function<void(MatrixDevice&)> script;  // empty: the adapter is pulled out
  std::set<int> codes;                        // what the faulty transaction may end with
};

class FaultMatrix : public ::testing::Test {
 protected:
  void SetUp() override { Plug(); }
  void TearDown() override { Unplug(); }

  void Plug() {
    server_ = std::make_unique<PtyServer>(device_, 19200);
    std::string error;
    ASSERT_TRUE(server_->Start(error)) << error;
    ASSERT_TRUE(link_.MapAndOpen(kPort, server_->slave_path(), 19200, error)) << error;
  }
  void Unplug() {
    if (server_)
      server_->Stop();
    server_.reset();
  }

  // Runs every row: the fault, then one transaction that must succeed. Prints the table.
  void RunMatrix(const char* protocol, const std::vector<Row>& rows,
                 const std::function<void(SerialLine*)>& attach,
                 const std::function<bool(int&)>& fault_exchange,
                 const std::function<bool()>& good_exchange) {
    attach(link_.line());
    for (const Row& row : rows) {
      const auto start = std::chrono::steady_clock::now();
      int code = 0;
      bool ok = false;
      if (row.script) {
        row.script(device_);
        ok = fault_exchange(code);
      } else {
        Unplug();
        ok = fault_exchange(code);
        link_.Close();
        Plug();
        attach(link_.line());
      }
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
      const bool next = good_exchange();
      std::printf("%-9s %-22s %-8s code %-4d %5lld ms   next %s\n", protocol, row.fault.c_str(),
                  ok ? "found" : "failed", code, static_cast<long long>(ms),
                  next ? "ok" : "FAILED");
      EXPECT_TRUE(row.codes.count(ok ? 0 : code)) << row.fault << ": code " << code;
      EXPECT_TRUE(next) << "after " << row.fault;
      // Well within the time-outs: the first-byte time-out, a drain and a gap or two.
      EXPECT_LT(ms, 3 * (kFirstByteMs + kGapMs)) << row.fault;
    }
  }

  MatrixDevice device_;
  std::unique_ptr<PtyServer> server_;
  ComLink link_;
};

Bytes Flipped(Bytes b, size_t at) {
  b[at] ^= 0x04;
  return b;
}
Bytes Without(Bytes b, size_t at) {
  b.erase(b.begin() + static_cast<std::ptrdiff_t>(at));
  return b;
}
Bytes Joined(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<Row> CommonRows(const Bytes& good, const Bytes& other_address,
                            const Bytes& other_function, const Bytes& refusal,
                            const Bytes& bad_count, std::set<int> silent, int gap, int checksum,
                            int function_code, int refusal_code, int count_code,
                            std::set<int> unplugged) {
  const uint64_t late = (kFirstByteMs + kGapMs / 2) * 1000ull;
  return {
      {"silence", [](MatrixDevice&) {}, silent},
      {"late first byte",
       [=](MatrixDevice& d) {
         d.Then({good, late});
       },
       silent},
      {"gap mid-frame",
       [=](MatrixDevice& d) {
         d.Then({good, 5000, 3, 3 * kGapMs * 1000ull / 2});
       },
       {gap}},
      {"dropped byte", [=](MatrixDevice& d) { d.Then({Without(good, 3)}); }, {gap, checksum}},
      {"flipped bit", [=](MatrixDevice& d) { d.Then({Flipped(good, 4)}); }, {checksum}},
      {"wrong address", [=](MatrixDevice& d) { d.Then({other_address}); }, silent},
      {"wrong function", [=](MatrixDevice& d) { d.Then({other_function}); }, {function_code}},
      {"exception reply", [=](MatrixDevice& d) { d.Then({refusal}); }, {refusal_code}},
      {"bad count", [=](MatrixDevice& d) { d.Then({bad_count}); }, {count_code}},
      {"trailing bytes",
       [=](MatrixDevice& d) {
         d.Then({Joined(good, {0x00, 0x13, 0xFF})});
       },
       {0}},
      {"leading garbage",
       [=](MatrixDevice& d) {
         d.Then({Joined({0x00, 0xAA, 0x13}, good)});
       },
       {0}},
      {"stray first byte", [=](MatrixDevice& d) { d.Then({Joined({good[0]}, good)}); }, {0}},
      {"echo", [=](MatrixDevice& d) { d.Then({good}, true); }, {0}},
      {"adapter out and back", nullptr, unplugged},
  };
}

}  // namespace

TEST_F(FaultMatrix, Modbus) {
  modbusbox box(1);
  box.first_byte_timeout = kFirstByteMs;
  box.next_byte_timeout = kGapMs;
  box.rts_switching = false;
  const Bytes good = Sealed({0x01, 0x03, 0x02, 0x12, 0x34});
  const auto rows = CommonRows(good, Sealed({0x02, 0x03, 0x02, 0x12, 0x34}),
                               Sealed({0x01, 0x04, 0x02, 0x12, 0x34}), Sealed({0x01, 0x83, 0x02}),
                               Sealed({0x01, 0x03, 0x04, 0, 1, 0, 2}), {21}, 25, 27, 21, 2, 29,
                               {modbusbox::kErrorLinkLost});
  RunMatrix(
      "Modbus", rows, [&](SerialLine* line) { box.port_handle = line; },
      [&](int& code) {
        const bool ok = box.ReadRegisters(59, 1);
        code = box.error_code;
        return ok && box.values[0] == 0x1234;
      },
      [&] {
        device_.Then({Sealed({0x01, 0x03, 0x02, 0x56, 0x78})});
        return box.ReadRegisters(59, 1) && box.values[0] == 0x5678;
      });
}

TEST_F(FaultMatrix, Corrector) {
  calcbox box(1);
  box.first_byte_timeout = kFirstByteMs;
  box.next_byte_timeout = kGapMs;
  box.rts_switching = false;
  box.preambles = 2;
  // Leaving service on line 1: the acknowledgement is the function with its reply bit.
  const auto frame = [](std::vector<uint8_t> head) {
    head[2] = static_cast<uint8_t>(head.size() + 2);
    return Sealed(head);
  };
  const Bytes good = frame({0x66, 0x01, 0, 0x91});
  const uint8_t line_number = 1;
  const auto rows =
      CommonRows(good, frame({0x66, 0x02, 0, 0x91}), frame({0x66, 0x01, 0, 0x90}),
                 frame({0x66, 0x01, 0, 0x11, 2, 0, 0}), frame({0x66, 0x01, 0, 0x91, 0}), {6}, 8, 9,
                 12, 12, 10, {calcbox::kErrorLinkLost});
  RunMatrix(
      "corrector", rows, [&](SerialLine* line) { box.port_handle = line; },
      [&](int& code) {
        const bool ok =
            box.Exchange(calcbox::kStartPassword, calcbox::kFunctionLeaveService, &line_number, 1);
        code = box.error_code;
        return ok;
      },
      [&] {
        device_.Then({good});
        return box.Exchange(calcbox::kStartPassword, calcbox::kFunctionLeaveService, &line_number,
                            1);
      });
}
