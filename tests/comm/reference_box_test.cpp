// The reference's line discipline against a scripted instrument on a virtual line.

#include "comm/reference_box.h"

#include <gtest/gtest.h>

#include "sim/virtual_line.h"

namespace {

// Answers every request with the same timed bytes, relative to when the request came.
class CannedDevice final : public LineDevice {
 public:
  std::vector<std::pair<uint64_t, std::string>> parts;  // delay us, text
  std::vector<TimedByte> Receive(const std::vector<uint8_t>&, uint64_t now_us) override {
    std::vector<TimedByte> out;
    for (const auto& [delay, text] : parts) {
      uint64_t at = now_us + delay;
      for (char c : text)
        out.push_back({at += 100, static_cast<uint8_t>(c)});
    }
    return out;
  }
};

class ReferenceBoxTest : public ::testing::Test {
 protected:
  ReferenceBoxTest() : line_(clock_, &device_) {
    box_.port_handle = &line_;
    box_.clock = &clock_;
  }
  VirtualClock clock_;
  CannedDevice device_;
  VirtualLine line_;
  ReferenceBox box_;
};

TEST_F(ReferenceBoxTest, SkipsLeadingLineEndsAndEndsAtTheFirstOne) {
  device_.parts = {{2000, "\r\n 101.3 kPa\r\n"}};
  std::string reply;
  ASSERT_TRUE(box_.Query("VAL?", reply));
  EXPECT_EQ(reply, " 101.3 kPa");
  const std::string sent(line_.written().begin(), line_.written().end());
  EXPECT_EQ(sent, "VAL?\r\n");
}

TEST_F(ReferenceBoxTest, SilenceEndsOneTickAfterTheFirstByteTimeout) {
  box_.first_byte_timeout = 1500;
  std::string reply;
  const uint64_t start = clock_.Counter();
  EXPECT_FALSE(box_.Query("VAL?", reply));
  EXPECT_EQ(box_.error_code, ReferenceBox::kErrorNoReply);
  EXPECT_EQ(clock_.Counter() - start, 1'500'001u);
}

TEST_F(ReferenceBoxTest, AReplyThatStopsBeforeItsLineEndIsCutShortAndDrainedBeforeTheNext) {
  device_.parts = {{1000, "101."}, {300'000, "3\r\n"}};
  box_.next_byte_timeout = 200;
  std::string reply;
  EXPECT_FALSE(box_.Query("VAL?", reply));
  EXPECT_EQ(box_.error_code, ReferenceBox::kErrorCutShort);
  EXPECT_EQ(box_.received(), "101.");
  // The late "3" must not start the next reply.
  device_.parts = {{1000, "7.5\r\n"}};
  box_.first_byte_timeout = 2000;
  ASSERT_TRUE(box_.Query("VAL?", reply));
  EXPECT_EQ(reply, "7.5");
}

TEST_F(ReferenceBoxTest, ControlBytesAndEndlessRepliesAreRefused) {
  device_.parts = {{1000, std::string("12\x01"
                                      "3\r\n")}};
  std::string reply;
  EXPECT_FALSE(box_.Query("VAL?", reply));
  EXPECT_EQ(box_.error_code, ReferenceBox::kErrorGarbage);
  EXPECT_TRUE(reply.empty());
  EXPECT_EQ(box_.received(), "12\\x013");

  device_.parts = {{1000, std::string(ReferenceBox::kMaxReply + 10, '9') + "\r\n"}};
  EXPECT_FALSE(box_.Query("VAL?", reply));
  EXPECT_EQ(box_.error_code, ReferenceBox::kErrorTooLong);
}

TEST_F(ReferenceBoxTest, ACourtesyAnswerToACommandDoesNotAnswerTheNextQuery) {
  device_.parts = {{20'000, "OK\r\n"}};
  ASSERT_TRUE(box_.Command(":SOUR:PRES 100"));
  device_.parts = {{1000, "100.0\r\n"}};
  std::string reply;
  ASSERT_TRUE(box_.Query(":SENS:PRES?", reply));
  EXPECT_EQ(reply, "100.0");
}

TEST_F(ReferenceBoxTest, AStopRequestEndsTheQueryWithoutSending) {
  box_.abort_requested = true;
  std::string reply;
  EXPECT_FALSE(box_.Query("VAL?", reply));
  EXPECT_EQ(box_.error_code, ReferenceBox::kErrorAborted);
  EXPECT_TRUE(line_.written().empty());
}

}  // namespace
