#include "sim/sim_options.h"

#include <gtest/gtest.h>

namespace {

ParseOutcome Parse(std::vector<std::string> args, SimOptions& options, std::string& error) {
  return ParseSimOptions(args, options, error);
}

}  // namespace

TEST(SimOptions, DefaultsMatchTheApplicationsDefaults) {
  SimOptions o;
  std::string error;
  ASSERT_EQ(Parse({}, o, error), ParseOutcome::kRun);
  EXPECT_EQ(o.connection, SimConnection::kCorrector);
  EXPECT_EQ(o.com, 200);
  EXPECT_EQ(o.corrector.address, 1);
  EXPECT_EQ(o.corrector.plate, 26);
  EXPECT_EQ(o.corrector.sw_version, 37);
  EXPECT_FALSE(o.corrector.password_demand);
  EXPECT_FALSE(o.corrector.write_password.has_value());
  EXPECT_FALSE(o.corrector.user_code.has_value());
  EXPECT_EQ(o.corrector.pressure.address, 101);
  EXPECT_EQ(o.corrector.temperature.address, 102);
  EXPECT_EQ(o.corrector.pressure.slope, 1.0f);
  EXPECT_EQ(o.timing.rate, 19200u);
}

TEST(SimOptions, ValuesReachTheirSettings) {
  SimOptions o;
  std::string error;
  ASSERT_EQ(Parse({"--connection",
                   "direct",
                   "--com=17",
                   "--address",
                   "7",
                   "--turnaround",
                   "2.5",
                   "--lines",
                   "1,3",
                   "--sensor",
                   "temperature",
                   "--temperature",
                   "-12.5",
                   "--noise",
                   "0.2",
                   "--fault-noise",
                   "4",
                   "--fault-target",
                   "sensor",
                   "--fault-slow-byte",
                   "400",
                   "--state-extra-bits",
                   "8",
                   "--write-protect",
                   "--user-code",
                   "0042",
                   "--ready"},
                  o, error),
            ParseOutcome::kRun)
      << error;
  EXPECT_EQ(o.connection, SimConnection::kDirect);
  EXPECT_EQ(o.com, 17);
  EXPECT_EQ(o.corrector.address, 7);
  EXPECT_EQ(o.timing.turnaround_us, 2500u);
  EXPECT_EQ(o.corrector.wired, (std::array<bool, 3>{true, false, true}));
  EXPECT_EQ(o.direct_channel, 1);
  EXPECT_EQ(o.corrector.temperature.value, -12.5);
  EXPECT_EQ(o.corrector.pressure.noise, 0.2);
  EXPECT_EQ(o.faults.noise_bytes, 4);
  EXPECT_EQ(o.faults.target, FaultTarget::kSensor);
  EXPECT_EQ(o.faults.slow_byte_ms, 400u);
  EXPECT_EQ(o.corrector.state_extra_bits, 8);
  EXPECT_TRUE(o.corrector.temperature.write_protect);
  EXPECT_EQ(*o.corrector.user_code, (std::array<uint8_t, 4>{'0', '0', '4', '2'}));
  EXPECT_TRUE(o.ready);
}

TEST(SimOptions, PasswordsAreKeptAsTheyTravel) {
  SimOptions o;
  std::string error;
  ASSERT_EQ(Parse({"--write-password", "Тиск", "--const-password", "Пi"}, o, error),
            ParseOutcome::kRun)
      << error;
  // The write password in code page 866 (as the master converts it), blank-padded to 12.
  const std::array<uint8_t, 12> write = {0x92, 0xA8, 0xE1, 0xAA, ' ', ' ',
                                         ' ',  ' ',  ' ',  ' ',  ' ', ' '};
  EXPECT_EQ(*o.corrector.write_password, write);
  // The constants password as typed, in code page 1251.
  EXPECT_EQ((*o.corrector.const_password)[0], 0xCF);
  EXPECT_EQ((*o.corrector.const_password)[1], 'i');
  EXPECT_EQ((*o.corrector.const_password)[2], ' ');

  // Characters the code page lacks are refused, not turned into question marks.
  EXPECT_EQ(Parse({"--write-password", "a漢"}, o, error), ParseOutcome::kBad);
  EXPECT_EQ(Parse({"--const-password", "\xD0"}, o, error), ParseOutcome::kBad);
  EXPECT_EQ(Parse({"--write-password", "a?"}, o, error), ParseOutcome::kRun) << error;
}

TEST(SimOptions, BadValuesAreRefusedWithTheOptionNamed) {
  const std::vector<std::vector<std::string>> bad = {
      {"--com", "0"},
      {"--com", "256"},
      {"--com", "12x"},
      {"--address", "255"},
      {"--connection", "serial"},
      {"--rate", "100"},
      {"--pressure-address", "248"},
      {"--pressure", "nan"},
      {"--slope", "0"},
      {"--noise", "-1"},
      {"--turnaround", "1e6"},
      {"--lines", "1,4"},
      {"--lines", "1,,2"},
      {"--user-code", "12345"},
      {"--user-code", "ab"},
      {"--write-password", "1234567890123"},
      {"--write-password", "漢"},
      {"--state-extra-bits", "3"},
      {"--fault-target", "nobody"},
      {"--fault-cut"},
      {"--unplug-for", "0"},
      {"--unplug-after", "-1"},
      {"--ready=yes"},
      {"--no-such-option"},
      {"stray"},
  };
  for (const auto& args : bad) {
    SimOptions o;
    std::string error;
    EXPECT_EQ(Parse(args, o, error), ParseOutcome::kBad) << args[0];
    EXPECT_NE(error.find(args[0].substr(0, args[0].find('='))), std::string::npos)
        << args[0] << ": " << error;
  }
  SimOptions o;
  std::string error;
  EXPECT_EQ(Parse({"--com", "5", "--help"}, o, error), ParseOutcome::kHelp);
}

TEST(SimOptions, UnplugAfterRequestsForSeconds) {
  SimOptions o;
  std::string error;
  EXPECT_EQ(o.unplug_after, 0u);
  ASSERT_EQ(Parse({"--unplug-after", "6", "--unplug-for", "2"}, o, error), ParseOutcome::kRun);
  EXPECT_EQ(o.unplug_after, 6u);
  EXPECT_EQ(o.unplugged_ms, 2000u);
}

TEST(SimOptions, DescriptionNamesTheDeviceAndFaults) {
  SimOptions o;
  std::string error;
  ASSERT_EQ(Parse({"--fault-bad-checksum", "--fault-count", "2"}, o, error), ParseOutcome::kRun);
  const std::string text = DescribeSimOptions(o);
  EXPECT_NE(text.find("corrector: address 1, plate 26, software version 37"), std::string::npos);
  EXPECT_NE(text.find("pressure sensor: address 101"), std::string::npos);
  EXPECT_NE(text.find("faults: bad checksum (on all replies, the first 2)"), std::string::npos)
      << text;
  EXPECT_NE(dynamic_cast<SimCorrector*>(MakeSimDevice(o).get()), nullptr);
  o.connection = SimConnection::kDirect;
  EXPECT_NE(dynamic_cast<SimDirectSensor*>(MakeSimDevice(o).get()), nullptr);
}
