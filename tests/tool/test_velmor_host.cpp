// The velmor-host tool, run as a user runs it.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "host/allocation_counter.h"
#include "host/plugin_host.h"
#include "plugin_list.h"

namespace velmor::test {
namespace {

struct Outcome {
  int status;
  std::string out, err;
};

// Runs the tool with a shell command line; stdout and stderr captured apart.
Outcome Tool(const std::string& arguments) {
  char dir[] = "/tmp/velmor-tool-XXXXXX";
  const std::string d = mkdtemp(dir);
  const std::string cmd = std::string(VELMOR_HOST_TOOL) + " " + arguments + " >" + d + "/out 2>" + d + "/err </dev/null";
  const int raw = std::system(cmd.c_str());
  auto slurp = [](const std::string& p) {
    std::ifstream f(p);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  };
  Outcome o{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(d + "/out"), slurp(d + "/err")};
  std::system(("rm -rf " + d).c_str());
  return o;
}

std::string Plugin(const std::string& name) { return host::PluginPath(kPluginDir, name); }
std::string TestPlugin(const std::string& name) { return std::string(VELMOR_TEST_PLUGIN_DIR) + "/" + name + ".auf2"; }

class TempDir {
 public:
  TempDir() {
    char dir[] = "/tmp/velmor-files-XXXXXX";
    path_ = mkdtemp(dir);
  }
  ~TempDir() { std::system(("rm -rf " + path_).c_str()); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  bool Empty() const {
    Outcome o{0, "", ""};
    return std::system(("test -z \"$(ls -A " + path_ + ")\"").c_str()) == 0;
  }

 private:
  std::string path_;
};

struct Sound {
  int rate = 0, channels = 0;
  std::vector<float> samples;  // interleaved
};

void WriteSound(const std::string& path, const Sound& s) {
  SF_INFO info{};
  info.samplerate = s.rate;
  info.channels = s.channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr);
  sf_writef_float(f, s.samples.data(), static_cast<sf_count_t>(s.samples.size() / s.channels));
  sf_close(f);
}

Sound ReadSound(const std::string& path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  Sound s;
  if (!f) return s;
  s.rate = info.samplerate;
  s.channels = info.channels;
  s.samples.resize(static_cast<size_t>(info.frames * info.channels));
  sf_readf_float(f, s.samples.data(), info.frames);
  sf_close(f);
  return s;
}

Sound Noise(int rate, int channels, size_t frames) {
  Sound s{rate, channels, std::vector<float>(frames * static_cast<size_t>(channels))};
  uint32_t x = 1;
  for (float& v : s.samples) {
    x = x * 1664525u + 1013904223u;
    v = static_cast<float>(static_cast<int32_t>(x) / 4294967296.0);
  }
  return s;
}

TEST(VelmorHost, InfoListsEveryItem) {
  Outcome o = Tool("info " + Plugin("VelmorDistortion"));
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("name:        ディストーション/オーバードライブ"), std::string::npos);
  EXPECT_NE(o.out.find("information: Velmor ミニオーディオエフェクト(ディストーション) v0.1β"), std::string::npos);
  EXPECT_NE(o.out.find("2. select タイプ  default 0"), std::string::npos);
  EXPECT_NE(o.out.find("2 = ファズ"), std::string::npos);
  EXPECT_NE(o.out.find("5. track  キャラクター  default 0  range 0 to 10  step 0.01"), std::string::npos) << o.out;
}

// render gives the samples of the same blocks run through the host library.
TEST(VelmorHost, RenderEqualsTheSameBlocksInProcess) {
  TempDir dir;
  const Sound in = Noise(48000, 2, 48000 + 123);
  WriteSound(dir / "in.wav", in);
  Outcome o = Tool("render " + Plugin("VelmorDelay") + " " + dir / "in.wav " + dir / "out.wav" +
                   " --set ディレイタイム=120 --set 'タイプ=ピンポン(左から)' --set 2=80 --quiet");
  ASSERT_EQ(o.status, 0) << o.err;
  const Sound out = ReadSound(dir / "out.wav");
  ASSERT_EQ(out.channels, 2);
  ASSERT_EQ(out.rate, 48000);

  std::string error;
  auto plugin = host::Plugin::Load(Plugin("VelmorDelay"), &error);
  ASSERT_TRUE(plugin) << error;
  plugin->SetValue("ディレイタイム", 120);
  plugin->SetValue("タイプ", 2);
  plugin->SetValue("音量(ディレイ)", 80);
  const size_t frames = in.samples.size() / 2;
  std::vector<float> left(frames), right(frames);
  for (size_t i = 0; i < frames; ++i) left[i] = in.samples[2 * i], right[i] = in.samples[2 * i + 1];
  host::BlockRequest request;
  request.sampleRate = 48000;
  for (size_t start = 0; start < frames; start += 1600, ++request.frame)
    plugin->Process(&left[start], &right[start], static_cast<int32_t>(std::min<size_t>(1600, frames - start)), request);
  for (size_t i = 0; i < frames; ++i) {
    ASSERT_EQ(out.samples[2 * i], left[i]) << i;
    ASSERT_EQ(out.samples[2 * i + 1], right[i]) << i;
  }
}

// The probe writes the frame number into channel 0 and the block length into
// channel 1 (the first sample of each block holds the scene's rate).
TEST(VelmorHost, FpsSetsBlocksAndFrameNumbers) {
  TempDir dir;
  WriteSound(dir / "in.wav", Noise(44100, 1, 10000));
  Outcome o = Tool("render " + TestPlugin("test_probe") + " " + dir / "in.wav " + dir / "out.wav --fps 24 --quiet");
  ASSERT_EQ(o.status, 0) << o.err;
  const Sound out = ReadSound(dir / "out.wav");
  ASSERT_EQ(out.channels, 2);  // mono in, stereo out
  ASSERT_EQ(out.samples.size(), 20000u);
  // 44100 / 24 = 1837.5: frame n starts at floor(n * 1837.5).
  for (size_t i = 0; i < 10000; ++i) {
    size_t frame = 0;
    while (static_cast<size_t>(std::floor((frame + 1) * 1837.5)) <= i) ++frame;
    const size_t begin = static_cast<size_t>(std::floor(frame * 1837.5));
    const size_t end = std::min<size_t>(10000, static_cast<size_t>(std::floor((frame + 1) * 1837.5)));
    ASSERT_EQ(out.samples[2 * i], static_cast<float>(frame)) << i;
    ASSERT_EQ(out.samples[2 * i + 1], i == begin ? 44100.0f : static_cast<float>(end - begin)) << i;
  }
  o = Tool("render " + TestPlugin("test_probe") + " " + dir / "in.wav " + dir / "out.wav --fps 60 --rate 96000 --set choice=B --set gain=2");
  ASSERT_EQ(o.status, 0) << o.err;
  const Sound fast = ReadSound(dir / "out.wav");
  EXPECT_EQ(fast.samples[2 * 735], 2.0f * 1 + 1);  // frame 1 * gain 2 + option B
  EXPECT_EQ(fast.samples[2 * 735 + 1], 96000.0f);
  EXPECT_EQ(fast.samples[2 * 736 + 1], 735.0f);
}

TEST(VelmorHost, ErrorsAreOneLineAndLeaveNoFile) {
  TempDir dir;
  WriteSound(dir / "in.wav", Noise(44100, 2, 1000));
  WriteSound(dir / "three.wav", Noise(44100, 3, 1000));
  { std::ofstream(dir / "text.wav") << "not audio"; }
  const std::string filter = Plugin("VelmorFilter");
  const std::string out = dir / "result.wav";
  struct Case {
    std::string arguments, message;
  };
  const Case cases[] = {
      {"render " + filter + " " + dir / "missing.wav " + out, "cannot read"},
      {"render " + dir / "in.wav " + dir / "in.wav " + out, "is not a usable plug-in"},
      {"render /nonexistent.auf2 " + dir / "in.wav " + out, "cannot open"},
      {"render " + filter + " " + dir / "in.wav " + out + " --set 音量=3", "unknown item"},
      {"render " + filter + " " + dir / "in.wav " + out + " --set カットオフ周波数=loud", "not a number"},
      {"render " + filter + " " + dir / "in.wav " + out + " --set フィルタタイプ=バンドパス", "unknown option"},
      {"render " + filter + " " + dir / "three.wav " + out, "3 channels"},
      {"render " + filter + " " + dir / "text.wav " + out, "cannot read"},
      {"render " + filter + " " + dir / "in.wav " + dir / "result.mp9", "unsupported output format"},
      {"response " + filter + " --svg " + dir / "r.svg --set 9=1", "unknown item"},
      {"info " + dir / "in.wav", "is not a usable plug-in"},
      // Numbers outside what their conversions hold are usage errors, not
      // undefined conversions (the sanitizer build runs these too).
      {"render " + filter + " " + dir / "in.wav " + out + " --set フィルタタイプ=99999999999", "from -2147483648 to"},
      {"render " + filter + " " + dir / "in.wav " + out + " --fps 1e-300", "--fps is too low"},
      {"render " + filter + " " + dir / "in.wav " + out + " --rate 1e10", "not a whole number"},
      {"render " + filter + " " + dir / "in.wav " + out + " --rate 99999999999", "--rate must be a whole number from 1"},
      {"response " + filter + " --svg " + dir / "r.svg --rate 99999999999", "--rate must be a whole number"},
      {"signal " + dir / "s.wav --rate -99999999999", "--rate must be a whole number"},
  };
  for (const Case& c : cases) {
    Outcome o = Tool(c.arguments);
    EXPECT_NE(o.status, 0) << c.arguments;
    EXPECT_NE(o.err.find(c.message), std::string::npos) << c.arguments << "\n" << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
  }
  struct stat st;
  EXPECT_NE(stat(out.c_str(), &st), 0);
  EXPECT_NE(stat((dir / "r.svg").c_str(), &st), 0);
  EXPECT_NE(stat((dir / "result.mp9").c_str(), &st), 0);
  EXPECT_EQ(Tool("render --help").status, 0);
  EXPECT_EQ(Tool("validate --help").status, 0);
}

// The result column of validate's row for a plug-in file and check, "" if none.
std::string ValidateResult(const std::string& table, const std::string& file, const std::string& check) {
  std::istringstream lines(table);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> columns;
    for (size_t at = 0; at < line.size();) {
      const size_t gap = line.find("  ", at);
      const std::string column = line.substr(at, gap == std::string::npos ? std::string::npos : gap - at);
      if (!column.empty()) columns.push_back(column);
      if (gap == std::string::npos) break;
      at = line.find_first_not_of(' ', gap);
    }
    if (columns.size() >= 3 && columns[0] == file && columns[1] == check) return columns[2];
  }
  return "";
}

TEST(VelmorHost, ValidatePassesOnEveryPlugin) {
  std::string command = "validate";
  for (const char* name : kPluginNames) command.append(" ").append(Plugin(name));
  Outcome o = Tool(command);
  EXPECT_EQ(o.status, 0) << o.out;
  EXPECT_NE(o.out.find("all checks passed"), std::string::npos);
}

TEST(VelmorHost, ValidateCatchesBrokenPlugins) {
  Outcome options = Tool("validate " + TestPlugin("test_broken_options"));
  EXPECT_EQ(options.status, 1);
  EXPECT_NE(options.out.find("option list ends with a non-zero value"), std::string::npos) << options.out;
  Outcome crash = Tool("validate " + TestPlugin("test_crash_at_8000") + " " + Plugin("VelmorFilter"));
  EXPECT_EQ(crash.status, 1);
  EXPECT_NE(crash.out.find("CRASH"), std::string::npos) << crash.out;
  EXPECT_EQ(ValidateResult(crash.out, "VelmorFilter.auf2", "bounded output"), "pass") << crash.out;
}

// Every check has a time limit: a plug-in that never returns, wherever, is
// killed and reported with the check it was in, and the others still run.
TEST(VelmorHost, ValidateTimesOutPluginsThatHang) {
  const std::string filter = Plugin("VelmorFilter");
  Outcome o = Tool("validate --timeout 0.5 " + TestPlugin("test_spin_in_initialize") + " " +
                   TestPlugin("test_spin_in_table") + " " + TestPlugin("test_spin_at_22050") + " " + filter);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(ValidateResult(o.out, "test_spin_in_initialize.auf2", "InitializePlugin"), "TIMEOUT") << o.out;
  EXPECT_EQ(ValidateResult(o.out, "test_spin_in_table.auf2", "GetFilterPluginTable"), "TIMEOUT") << o.out;
  EXPECT_EQ(ValidateResult(o.out, "test_spin_at_22050.auf2", "processing at 22050 Hz"), "TIMEOUT") << o.out;
  EXPECT_EQ(ValidateResult(o.out, "VelmorFilter.auf2", "allocation"), "pass") << o.out;
  EXPECT_EQ(Tool("validate --timeout 0 " + filter).status, 2);
}

// The allocator is counted inside the audio callback of existing objects.
TEST(VelmorHost, ValidateReportsAPluginThatAllocatesInEveryBlock) {
  if (!host::AllocationCounter::Available()) GTEST_SKIP() << "the allocator cannot be counted here";
  Outcome o = Tool("validate " + TestPlugin("test_allocates"));
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(ValidateResult(o.out, "test_allocates.auf2", "allocation"), "FAIL") << o.out;
  EXPECT_EQ(ValidateResult(o.out, "test_allocates.auf2", "result"), "pass") << o.out;
}

// The filter's plot at 1000 Hz low-pass: about 0 dB well below the cutoff and
// 12 dB per octave of fall well above it.
TEST(VelmorHost, ResponseOfTheLowPass) {
  TempDir dir;
  Outcome o = Tool("response " + Plugin("VelmorFilter") + " --svg " + dir / "lp.svg --set カットオフ周波数=1000");
  ASSERT_EQ(o.status, 0) << o.err;
  std::ifstream svg(dir / "lp.svg");
  std::string line;
  std::vector<std::pair<double, double>> points;
  bool inData = false;
  while (std::getline(svg, line)) {
    if (line.find("<metadata") != std::string::npos) { inData = true; continue; }
    if (line.find("</metadata>") != std::string::npos) inData = false;
    double f, db;
    if (inData && std::sscanf(line.c_str(), "%lf,%lf", &f, &db) == 2) points.push_back({f, db});
  }
  ASSERT_GE(points.size(), 200u);
  auto at = [&](double f) {
    for (size_t i = 1; i < points.size(); ++i)
      if (points[i].first >= f) return points[i - 1].second + (points[i].second - points[i - 1].second) *
                                                                 (f - points[i - 1].first) / (points[i].first - points[i - 1].first);
    return points.back().second;
  };
  EXPECT_NEAR(at(50), 0.0, 0.1);
  EXPECT_NEAR(at(200), 0.0, 0.3);
  EXPECT_NEAR(at(1000), 0.0, 0.2);  // Q 1: unity gain at the cutoff
  EXPECT_NEAR(at(3000) - at(6000), 12.0, 1.5);
  EXPECT_NEAR(at(2500) - at(5000), 12.0, 1.5);
}

}  // namespace
}  // namespace velmor::test
