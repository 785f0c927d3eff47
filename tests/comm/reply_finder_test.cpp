// How both exchanges find their reply in what the line brings: the adapter's echo of the
// request, a stray byte or a false start ahead of the reply, a reply that came too late.
#include "comm/reply_finder.h"

#include <gtest/gtest.h>

#include <vector>

#include "comm/calcbox.h"
#include "tests/comm/modbusbox_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kReadRequest = Sealed({0x01, 0x03, 0x00, 0x3B, 0x00, 0x01});  // register 59
const Bytes kReadReply = Sealed({0x01, 0x03, 0x02, 0x00, 0x20});

Bytes Joined(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class ModbusReplySearch : public ModbusboxFixture {};

TEST_F(ModbusReplySearch, TheEchoOfTheRequestIsSkippedUnlessSwitchedOff) {
  // Register 0xF000: the echo's third byte reads as a count of 240, a frame never finished.
  const Bytes request = Sealed({0x01, 0x03, 0xF0, 0x00, 0x00, 0x01});
  for (const EchoMode mode : {EchoMode::kDetect, EchoMode::kAlways}) {
    box.echo = mode;
    device.Then(ScriptedDevice::NoiseThen(request, kReadReply));
    ASSERT_TRUE(box.ReadRegisters(0xF000, 1)) << box.ErrorText();
    EXPECT_EQ(box.values[0], 0x20);
  }
  // Detect takes a reply without an echo as it comes; always-echo drops as many bytes as sent.
  box.echo = EchoMode::kDetect;
  Answer(kReadReply);
  EXPECT_TRUE(box.ReadRegisters(59, 1)) << box.ErrorText();
  box.echo = EchoMode::kAlways;
  Answer(Joined(Bytes(8, 0x00), kReadReply));
  EXPECT_TRUE(box.ReadRegisters(59, 1)) << box.ErrorText();
  Answer(kReadReply);
  EXPECT_FALSE(box.ReadRegisters(59, 1));
  EXPECT_EQ(box.error_code, modbusbox::kErrorNoReply);
}

TEST_F(ModbusReplySearch, AStrayByteOrAFalseStartBeforeTheReplyDoesNotLoseIt) {
  for (const Bytes& noise :
       {Bytes{0x01}, Bytes{0x01, 0x03}, Bytes{0x01, 0x03, 0x02, 0x00, 0x20, 0x00, 0x00},
        Bytes{0x01, 0x01, 0x83}}) {
    device.Then(ScriptedDevice::NoiseThen(noise, kReadReply));
    ASSERT_TRUE(box.ReadRegisters(59, 1)) << box.ErrorText() << " after " << noise.size();
    EXPECT_EQ(box.values[0], 0x20);
  }
  // A damaged reply with nothing after it still reports its checksum, after the byte gap.
  Bytes bad = kReadReply;
  bad[4] ^= 0x10;
  Answer(bad);
  EXPECT_FALSE(box.ReadRegisters(59, 1));
  EXPECT_EQ(box.error_code, modbusbox::kErrorChecksum);
  EXPECT_EQ(device.requests.size(), 5u);
}

TEST_F(ModbusReplySearch, AReplyThatCameTooLateDoesNotAnswerTheNextRequest) {
  // The first reply comes 2.05 s after the request, past the 2 s time-out.
  device.Then(ScriptedDevice::Reply(Sealed({0x01, 0x03, 0x02, 0x11, 0x11}), 2'050'000));
  EXPECT_FALSE(box.ReadRegisters(59, 1));
  EXPECT_EQ(box.error_code, modbusbox::kErrorNoReply);
  Answer(Sealed({0x01, 0x03, 0x02, 0x22, 0x22}));
  ASSERT_TRUE(box.ReadRegisters(60, 1)) << box.ErrorText();
  EXPECT_EQ(box.values[0], 0x2222);
}

TEST(ReplyFinder, FarMoreNoiseThanAReplyKeepsItsMemoryBounded) {
  const FrameRule rule = [](const uint8_t* at, size_t available) {
    FrameView view;
    if (at[0] == 0x01) {
      view.kind = available < 2 ? FrameView::Kind::kMore : FrameView::Kind::kFrame;
      view.length = 7;
      view.started = available >= 2;
    }
    return view;
  };
  ReplyFinder finder(kReadRequest.data(), kReadRequest.size(), EchoMode::kDetect, rule);
  for (int i = 0; i < 100'000; ++i)
    finder.Add(static_cast<uint8_t>(i * 7));  // 0x01 now and then, never a whole frame
  EXPECT_FALSE(finder.Found());
  for (const uint8_t byte : kReadReply)
    finder.Add(byte);
  ASSERT_TRUE(finder.Found());
  EXPECT_EQ(Bytes(finder.Frame(), finder.Frame() + finder.FrameLength()), kReadReply);
}

class CorrectorReplySearch : public ::testing::Test {
 protected:
  CorrectorReplySearch() : line(clock, &device), box(1) {
    box.port_handle = &line;
    box.clock = &clock;
    box.ui = &ui;
    box.preambles = 2;
  }
  bool LeaveService() {
    const uint8_t line_number = 1;
    return box.Exchange(0xBB, 17, &line_number, 1);
  }

  VirtualClock clock;
  ScriptedDevice device{{10'000, 8'000}};
  VirtualLine line{clock, &device};
  ScriptedHost ui;
  calcbox box;
};

TEST_F(CorrectorReplySearch, EchoAndAStrayStartByteAreSkipped) {
  Bytes ack = {0x66, 0x01, 0, 17 | 0x80};
  ack[2] = 6;
  ack = Sealed(ack);
  // The adapter's echo: whatever was sent, preambles included.
  device.responder = [&](const Bytes& request, size_t) {
    ScriptedDevice::Answer answer;
    answer.noise = Joined(request, {0x66});
    answer.frame = ack;
    return answer;
  };
  for (const EchoMode mode : {EchoMode::kDetect, EchoMode::kAlways, EchoMode::kOff}) {
    box.echo = mode;
    EXPECT_TRUE(LeaveService()) << box.ErrorText() << " echo " << int(mode);
  }
}

}  // namespace
