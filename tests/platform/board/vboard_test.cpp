// The virtual board on its own: configuration, audio sources and sinks, the exchange's dial
// tone, tick waits and descriptor handling.

#include "vboard.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "dsphalDrv.h"
#include "slicslacDrv.h"
#include "vboardAudio.h"

namespace {

const bool kBoardShape = (::setenv("ORVOX_BOARD", "fxs=2,fxo=1,dect=1", 1),
                          ::setenv("ORVOX_BOARD_SOCKET",
                                   ("/tmp/orvox_vboard_test_" + std::to_string(::getpid()) +
                                    ".sock").c_str(), 1),
                          true);

class RemoveSocket : public ::testing::Environment {
 public:
  void TearDown() override { ::unlink(vboardSocketPath().c_str()); }
};
const auto* kRemoveSocket = ::testing::AddGlobalTestEnvironment(new RemoveSocket);

std::string tempPath(const std::string& name) {
  return "/tmp/orvox_vboard_" + std::to_string(::getpid()) + "_" + name;
}

double rms(const std::vector<int16_t>& x) {
  double sum = 0;
  for (int16_t v : x) sum += static_cast<double>(v) * v;
  return std::sqrt(sum / x.size());
}

double goertzel(const std::vector<int16_t>& x, double f, int rate) {
  const double coeff = 2 * std::cos(2 * M_PI * f / rate);
  double s1 = 0, s2 = 0;
  for (int16_t v : x) {
    const double s0 = v + coeff * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return (s1 * s1 + s2 * s2 - coeff * s1 * s2) / (static_cast<double>(x.size()) * x.size());
}

// A channel descriptor bound to `line`, as the board layer opens it.
class ChannelFd {
 public:
  explicit ChannelFd(int line) {
    fd_ = vboardOpen(DSPHAL_DEVICE, 0);
    EXPECT_GE(fd_, 0);
    EXPECT_EQ(vboardIoctl(fd_, DSPHAL_CMD_INIT, static_cast<unsigned long>(line)), 0);
  }
  ~ChannelFd() { vboardClose(fd_); }
  std::vector<int16_t> read(int frames, int samplesPerFrame = 40) {
    std::vector<int16_t> out(static_cast<size_t>(frames * samplesPerFrame));
    for (int f = 0; f < frames; ++f) {
      const ssize_t n = vboardRead(fd_, out.data() + f * samplesPerFrame,
                                   static_cast<size_t>(samplesPerFrame) * 2);
      EXPECT_EQ(n, samplesPerFrame * 2);
    }
    return out;
  }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

TEST(VirtualBoardConfig, AcceptsItsKeysAndRejectsAnythingElse) {
  VBOARD_CONFIG config;
  std::string error;
  ASSERT_TRUE(vboardParseConfig("fxs=1,fxo=0,dect=2,wideband=1", &config, &error));
  EXPECT_EQ(config.fxs, 1);
  EXPECT_EQ(config.fxo, 0);
  EXPECT_EQ(config.dect, 2);
  EXPECT_TRUE(config.wideband);
  ASSERT_TRUE(vboardParseConfig("", &config, &error));
  EXPECT_EQ(config.fxs, 2);  // defaults
  for (const char* bad : {"fxs=9", "fxs=-1", "fxs=a", "fxs=", "x=1", "fxs", "fxs=4,fxo=4,dect=1"}) {
    error.clear();
    EXPECT_FALSE(vboardParseConfig(bad, &config, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST(VirtualBoardConfig, DectLinesComeFirstThenPhonesThenExchangeLines) {
  ASSERT_TRUE(kBoardShape);
  const char* expected[] = {"type=dect", "type=fxs", "type=fxs", "type=fxo"};
  for (int line = 0; line < 4; ++line) {
    const std::string status = vboardCommand(std::to_string(line) + " status");
    EXPECT_NE(status.find(expected[line]), std::string::npos) << status;
    dsphal_chancfg cfg{};
    cfg.id = line;
    const int fd = vboardOpen(DSPHAL_DEVICE, 0);
    ASSERT_EQ(vboardIoctl(fd, DSPHAL_CMD_GETCHANCFG, reinterpret_cast<unsigned long>(&cfg)), 0);
    vboardClose(fd);
    EXPECT_EQ(cfg.type, line == 0 ? DSPHAL_TYPE_DECT : line < 3 ? DSPHAL_TYPE_FXS : DSPHAL_TYPE_FXO);
  }
  EXPECT_EQ(vboardCommand("0 offhook").rfind("ERROR", 0), 0u);
}

TEST(VirtualBoardCommands, LineNumbersAndPulseTimingsAreChecked) {
  ASSERT_TRUE(kBoardShape);
  for (const char* command : {"-1 status", "4 status", "99999999999999999999 status"}) {
    EXPECT_EQ(vboardCommand(command).rfind("ERROR: no such line", 0), 0u) << command;
  }
  ASSERT_EQ(vboardCommand("1 offhook").rfind("OK", 0), 0u);
  for (const char* command : {"1 pulse 3 0 40 700", "1 pulse 3 60 0 700", "1 pulse 3 60 40 0",
                              "1 pulse 3 10 40 700", "1 pulse 3 60 40", "1 pulse 3 x 40 700"}) {
    EXPECT_EQ(vboardCommand(command).rfind("ERROR: pulse timing", 0), 0u) << command;
  }
  // A flash shorter than one hook sample would answer OK and never be seen.
  for (const char* command : {"1 flash 0", "1 flash 9", "1 flash 5001", "1 flash -10", "1 flash x"}) {
    EXPECT_EQ(vboardCommand(command), "ERROR: flash time must be 10..5000 ms\n") << command;
  }
  EXPECT_EQ(vboardCommand("1 pulse 3 50 50 700").rfind("OK", 0), 0u);
  vboardCommand("1 onhook");
  vboardCommand("1 offhook");
  EXPECT_EQ(vboardCommand("1 flash 10"), "OK line 1 flash 10 ms\n");
  vboardCommand("1 onhook");
}

TEST(VirtualBoardCommands, HookScriptsRunOnTheLineDriversSamplingClock) {
  ASSERT_TRUE(kBoardShape);
  const int ss = vboardOpen(SLICSLAC_DEVICE, 0);
  ASSERT_GE(ss, 0);
  ASSERT_EQ(vboardCommand("2 offhook").rfind("OK", 0), 0u);
  ASSERT_EQ(vboardCommand("2 pulse 1 60 40 700").rfind("OK", 0), 0u);
  // Wall time alone moves nothing: the phone waits for the driver's samples.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::vector<int> samples;
  for (int i = 0; i < 12; ++i) samples.push_back(vboardIoctl(ss, SS_CMD_ISOFFHOOK, 2));
  // Six 10 ms samples of the 60 ms break, then the make.
  EXPECT_EQ(samples, (std::vector<int>{0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1}));
  vboardCommand("2 onhook");
  vboardClose(ss);
}

TEST(VirtualBoardAudio, WavFilesRoundTripAndWrongFormatsAreRefused) {
  ASSERT_TRUE(kBoardShape);
  const std::string path = tempPath("ramp.wav");
  std::vector<int16_t> ramp(1000);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<int16_t>(i * 30 - 15000);
  std::string error;
  {
    WavWriter writer;
    ASSERT_TRUE(writer.open(path, 8000, &error)) << error;
    writer.write(ramp.data(), static_cast<int>(ramp.size()));
  }
  // Played on a phone, the file comes out of the channel sample for sample, then again.
  ASSERT_EQ(vboardCommand("1 play " + path).rfind("OK", 0), 0u);
  ChannelFd channel(1);
  const std::vector<int16_t> played = channel.read(50);  // 2000 samples
  for (size_t i = 0; i < played.size(); ++i) ASSERT_EQ(played[i], ramp[i % ramp.size()]) << i;
  EXPECT_EQ(vboardCommand("1 play silence").rfind("OK", 0), 0u);

  // A file at another rate than the line, and a file that is not a WAV file, are refused.
  WavWriter wide;
  ASSERT_TRUE(wide.open(tempPath("wide.wav"), 16000, &error));
  wide.write(ramp.data(), 100);
  wide.close();
  EXPECT_NE(vboardCommand("1 play " + tempPath("wide.wav")).find("sampled at 16000 Hz"),
            std::string::npos);
  std::ofstream(tempPath("junk.wav")) << "this is not audio";
  EXPECT_NE(vboardCommand("1 play " + tempPath("junk.wav")).find("is not a WAV file"),
            std::string::npos);
  EXPECT_EQ(vboardCommand("1 play /no/such/file.wav").rfind("ERROR: cannot open", 0), 0u);
  for (const char* name : {"ramp.wav", "wide.wav", "junk.wav"}) ::unlink(tempPath(name).c_str());
}

TEST(VirtualBoardAudio, RecordingKeepsWhatTheDspSent) {
  const std::string path = tempPath("heard.wav");
  ASSERT_EQ(vboardCommand("2 record " + path).rfind("OK", 0), 0u);
  ChannelFd channel(2);
  std::vector<int16_t> sent(400);
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<int16_t>(i * 7);
  for (size_t f = 0; f < sent.size() / 40; ++f) {
    // Frames may arrive in parts: the board takes them as the driver would.
    ASSERT_EQ(vboardWrite(channel.fd(), sent.data() + f * 40, 30), 30);
    ASSERT_EQ(vboardWrite(channel.fd(), sent.data() + f * 40 + 15, 50), 50);
  }
  ASSERT_EQ(vboardCommand("2 record stop").rfind("OK", 0), 0u);
  WavReader reader;
  std::string error;
  ASSERT_TRUE(reader.open(path, &error)) << error;
  EXPECT_EQ(reader.rate(), 8000);
  std::vector<int16_t> heard(sent.size());
  reader.read(heard.data(), static_cast<int>(heard.size()));
  EXPECT_EQ(heard, sent);
  ::unlink(path.c_str());
}

TEST(VirtualBoardAudio, TonesAndDigitsHaveTheirFrequenciesAndLevel) {
  ASSERT_EQ(vboardCommand("1 play tone 1000 0 -10").rfind("OK", 0), 0u);
  ChannelFd channel(1);
  const std::vector<int16_t> tone = channel.read(100);
  // -10 dBm0 is 13.14 dB below a full-scale sine.
  const double expectedRms = 32767 * std::pow(10, -13.14 / 20) / std::sqrt(2.0);
  EXPECT_NEAR(rms(tone), expectedRms, expectedRms * 0.01);
  EXPECT_GT(goertzel(tone, 1000, 8000), 100 * goertzel(tone, 1200, 8000));
  vboardCommand("1 play silence");

  // Each key of the pad sounds its row and column frequency.
  const char* keys = "123A456B789C*0#D";
  const double rows[4] = {697, 770, 852, 941}, cols[4] = {1209, 1336, 1477, 1633};
  ASSERT_EQ(vboardCommand("1 offhook").rfind("OK", 0), 0u);
  for (int k = 0; k < 16; ++k) {
    ASSERT_EQ(vboardCommand(std::string("1 dial ") + keys[k] + " 100 0").rfind("OK", 0), 0u);
    const std::vector<int16_t> digit = channel.read(20);  // 100 ms
    for (int r = 0; r < 4; ++r) {
      const bool row = r == k / 4;
      EXPECT_EQ(goertzel(digit, rows[r], 8000) > 1e5, row) << keys[k] << " row " << rows[r];
      const bool col = r == k % 4;
      EXPECT_EQ(goertzel(digit, cols[r], 8000) > 1e5, col) << keys[k] << " col " << cols[r];
    }
  }
  EXPECT_EQ(rms(channel.read(10)), 0.0);  // silence after the last digit
  vboardCommand("1 onhook");
}

TEST(VirtualBoardExchange, SeizedLineHearsDialTone) {
  const int ss = vboardOpen(SLICSLAC_DEVICE, 0);
  ASSERT_GE(ss, 0);
  ChannelFd channel(3);
  EXPECT_EQ(rms(channel.read(20)), 0.0);
  SSARG_MODECONTROL seize{3, DAA_MODE_OFFHOOK};
  ASSERT_EQ(vboardIoctl(ss, SS_CMD_MODECONTROL, reinterpret_cast<unsigned long>(&seize)), 0);
  const std::vector<int16_t> heard = channel.read(40);
  EXPECT_GT(goertzel(heard, 425, 8000), 100 * goertzel(heard, 600, 8000));
  SSARG_MODECONTROL release{3, DAA_MODE_ONHOOK};
  ASSERT_EQ(vboardIoctl(ss, SS_CMD_MODECONTROL, reinterpret_cast<unsigned long>(&release)), 0);
  channel.read(1);  // the frame already made
  EXPECT_EQ(rms(channel.read(20)), 0.0);
  vboardClose(ss);
}

TEST(VirtualBoardDevices, TickWaitEndsWhenItsDescriptorCloses) {
  const int fd = vboardOpen(DSPHAL_DEVICE, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(vboardIoctl(fd, DSPHAL_CMD_SETTICKENABLE, 1), 0);
  EXPECT_EQ(vboardIoctl(fd, DSPHAL_CMD_WAITTICK, 0), 0);
  ASSERT_EQ(vboardIoctl(fd, DSPHAL_CMD_SETTICKENABLE, 0), 0);  // no more ticks: a wait blocks
  int result = 1, error = 0;
  std::thread waiter([&] {
    result = vboardIoctl(fd, DSPHAL_CMD_WAITTICK, 0);
    error = errno;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(result, 1);  // still waiting
  vboardClose(fd);
  waiter.join();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(error, EBADF);
  const int again = vboardOpen(DSPHAL_DEVICE, 0);
  vboardIoctl(again, DSPHAL_CMD_SETTICKENABLE, 1);
  vboardClose(again);
}

TEST(VirtualBoardDevices, OnlyTheTwoDevicesOpenAndUnknownDescriptorsFail) {
  errno = 0;
  EXPECT_EQ(vboardOpen("/dev/null", 0), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(vboardOpen(nullptr, 0), -1);
  const int notOurs = ::eventfd(0, 0);
  EXPECT_FALSE(vboardOwns(notOurs));
  EXPECT_EQ(vboardIoctl(notOurs, DSPHAL_CMD_GETNUMEPT, 0), -1);
  EXPECT_EQ(vboardClose(notOurs), -1);
  ::close(notOurs);
  const int ss = vboardOpen(SLICSLAC_DEVICE, 0);
  uint8_t buffer[64];
  errno = 0;
  EXPECT_EQ(vboardRead(ss, buffer, sizeof(buffer)), -1);  // no event waiting
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_EQ(vboardWrite(ss, buffer, sizeof(buffer)), -1);
  EXPECT_EQ(vboardIoctl(ss, 0xC0FFEE, 0), -1);
  EXPECT_EQ(vboardIoctl(ss, SS_CMD_MODECONTROL, 0), -1);  // no record
  SSARG_MODECONTROL dect{0, SLIC_MODE_LCF};
  EXPECT_EQ(vboardIoctl(ss, SS_CMD_MODECONTROL, reinterpret_cast<unsigned long>(&dect)), -1);
  // Line-test results that nobody reads are kept to a bounded number.
  for (int i = 0; i < 40; ++i) {
    SSARG_LINE_TEST test{1, TEST_REN};
    ASSERT_EQ(vboardIoctl(ss, SS_CMD_LINE_TEST, reinterpret_cast<unsigned long>(&test)), 0);
  }
  int events = 0;
  while (vboardRead(ss, buffer, sizeof(buffer)) > 0) ++events;
  EXPECT_EQ(events, 16);
  vboardClose(ss);
}

}  // namespace
