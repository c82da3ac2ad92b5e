// The velmor-host tool, run as a user runs it.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
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

// Runs the tool with a shell command line (in a folder, if one is named);
// stdout and stderr captured apart.
Outcome Tool(const std::string& arguments, const std::string& folder = ".") {
  char dir[] = "/tmp/velmor-tool-XXXXXX";
  const std::string d = mkdtemp(dir);
  const std::string cmd = "cd '" + folder + "' && " + std::string(VELMOR_HOST_TOOL) + " " + arguments + " >" + d +
                          "/out 2>" + d + "/err </dev/null";
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
  const std::string& path() const { return path_; }
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

// The samples of a file as left and right channels.
struct Stereo {
  std::vector<float> left, right;
  explicit Stereo(const Sound& s) {
    for (size_t i = 0; i + 1 < s.samples.size(); i += 2) left.push_back(s.samples[i]), right.push_back(s.samples[i + 1]);
  }
};

// A stack is the same as its plug-ins run one after the other, block for
// block; every plug-in sees the same frame numbers.
TEST(VelmorHost, AStackEqualsItsPluginsOneAfterTheOther) {
  TempDir dir;
  WriteSound(dir / "in.wav", Noise(44100, 2, 44100 * 2 + 77));
  const std::string first = " --plugin " + Plugin("VelmorDistortion") + " --set タイプ=ファズ --set 1=20";
  const std::string second = " --plugin " + Plugin("VelmorDelay") + " --set ディレイタイム=0:50,1:300";
  const std::string common = " --fps 24 --id 7 --quiet";
  ASSERT_EQ(Tool("render " + dir / "in.wav " + dir / "a.wav" + first + common).status, 0);
  ASSERT_EQ(Tool("render " + dir / "a.wav " + dir / "ab.wav" + second + common).status, 0);
  Outcome o = Tool("render " + dir / "in.wav " + dir / "stack.wav" + first + second + common);
  ASSERT_EQ(o.status, 0) << o.err;
  const Sound apart = ReadSound(dir / "ab.wav"), stack = ReadSound(dir / "stack.wav");
  ASSERT_EQ(stack.samples.size(), apart.samples.size());
  EXPECT_TRUE(stack.samples == apart.samples);
  EXPECT_FALSE(stack.samples == ReadSound(dir / "a.wav").samples);
  // The probe after the delay still writes the frame numbers.
  o = Tool("render " + dir / "in.wav " + dir / "probe.wav" + second + " --plugin " + TestPlugin("test_probe") + common);
  ASSERT_EQ(o.status, 0) << o.err;
  const Stereo probe(ReadSound(dir / "probe.wav"));
  EXPECT_EQ(probe.left[55125], 30.0f);  // frame 30 starts at 30 * 44100 / 24
}

// Keyframed items take, for each frame, the value at the frame's start: the
// same as blocks run in-process with the item set before each block.
TEST(VelmorHost, KeyframesMoveValuesAtEachFrameStart) {
  TempDir dir;
  // 32000 Hz at 32 fps: frame b starts at b / 32 s, and every interpolated
  // value is exact in binary.
  const Sound in = Noise(32000, 2, 32000 * 7 / 2);
  WriteSound(dir / "in.wav", in);
  Outcome o = Tool("render " + Plugin("VelmorFilter") + " " + dir / "in.wav " + dir / "out.wav --fps 32 --quiet" +
                   " --set カットオフ周波数=0.5:1000,2.5:5000 --set フィルタタイプ=0:0,1.25:1,2:0");
  ASSERT_EQ(o.status, 0) << o.err;
  const Stereo out(ReadSound(dir / "out.wav"));

  std::string error;
  auto plugin = host::Plugin::Load(Plugin("VelmorFilter"), &error);
  ASSERT_TRUE(plugin) << error;
  Stereo expected(in);
  host::BlockRequest request;
  request.sampleRate = 32000;
  for (int b = 0; b < 112; ++b) {
    const double t = b / 32.0;
    const double cutoff = t <= 0.5 ? 1000 : t >= 2.5 ? 5000 : 1000 + 4000 * (t - 0.5) / 2;
    plugin->SetValue("カットオフ周波数", cutoff);
    plugin->SetValue("フィルタタイプ", t >= 1.25 && t < 2 ? 1 : 0);
    request.frame = b;
    plugin->Process(&expected.left[1000 * b], &expected.right[1000 * b], 1000, request);
  }
  ASSERT_EQ(out.left.size(), expected.left.size());
  for (size_t i = 0; i < out.left.size(); ++i) {
    ASSERT_EQ(out.left[i], expected.left[i]) << "frame " << i / 1000;
    ASSERT_EQ(out.right[i], expected.right[i]) << "frame " << i / 1000;
  }
}

// --stats against ffmpeg's ebur128 filter on the same files (and the true
// peak against sox too: at 44.1 kHz ffmpeg's resampler reads bright peaks
// about 0.2 dB low).
TEST(VelmorHost, LoudnessAgreesWithFfmpeg) {
  if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg is not installed";
  TempDir dir;
  ASSERT_EQ(Tool("signal " + dir / "in.wav --seconds 12 --rate 48000").status, 0);
  Outcome o = Tool("render " + dir / "in.wav " + dir / "out.wav --quiet --stats --plugin " + Plugin("VelmorTremolo") +
                   " --set 周期=0:0.5,12:8 --set 深さ=0.8 --plugin " + Plugin("VelmorDistortion") + " --set ゲイン=80");
  ASSERT_EQ(o.status, 0) << o.err;
  auto figure = [&](const std::string& name) {
    const size_t at = o.out.find(" " + name + "=");
    return at == std::string::npos ? NAN : std::atof(o.out.c_str() + at + name.size() + 2);
  };
  for (const char* side : {"in", "out"}) {
    // ffmpeg prints its summary on stderr, one decimal per figure.
    const std::string log = dir / "ffmpeg.log";
    ASSERT_EQ(std::system(("ffmpeg -nostdin -hide_banner -nostats -i " + dir / (std::string(side) + ".wav") +
                           " -af ebur128=peak=true -f null - 2>" + log).c_str()), 0);
    std::ifstream file(log);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::string summary = text.substr(text.rfind("Summary:"));
    auto ffmpeg = [&](const std::string& key) {
      const size_t at = summary.find(key);
      return at == std::string::npos ? NAN : std::atof(summary.c_str() + at + key.size());
    };
    const std::string s = side;
    EXPECT_NEAR(figure("lufs_" + s), ffmpeg("I:"), 0.1) << s << "\n" << o.out << summary;
    EXPECT_NEAR(figure("lra_" + s), ffmpeg("LRA:"), 0.1) << s << "\n" << o.out << summary;
    EXPECT_NEAR(figure("tp_" + s), ffmpeg("Peak:"), 0.2) << s << "\n" << o.out << summary;
    // And the true peak against sox's very-high-quality resampler at 192 kHz.
    ASSERT_EQ(std::system(("sox -V1 " + dir / (s + ".wav") + " -r 192000 " + dir / "up.wav rate -v && sox -V1 " +
                           dir / "up.wav -n stats 2>" + log).c_str()), 0);
    std::ifstream stats(log);
    const std::string table((std::istreambuf_iterator<char>(stats)), std::istreambuf_iterator<char>());
    const size_t peak = table.find("Pk lev dB");
    ASSERT_NE(peak, std::string::npos) << table;
    EXPECT_NEAR(figure("tp_" + s), std::atof(table.c_str() + peak + 9), 0.05) << s << "\n" << o.out << table;
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
      {"render " + filter + " " + dir / "in.wav " + out + " --rate 99999999999", "--rate must be a whole number from 1000"},
      {"response " + filter + " --svg " + dir / "r.svg --rate 99999999999", "--rate must be a whole number"},
      {"signal " + dir / "s.wav --rate -99999999999", "--rate must be a whole number"},
      // Stacks and keyframes.
      {"render " + filter + " " + dir / "in.wav " + out + " --set カットオフ周波数=1:100,0.5:200", "not in time order"},
      {"render " + filter + " " + dir / "in.wav " + out + " --set カットオフ周波数=0:100,0.0:200",
       "keyframes of カットオフ周波数 at 0 s and 0.0 s share one time"},
      {"render " + filter + " " + dir / "in.wav " + out + " --set カットオフ周波数=-1:300,2:800",
       "keyframe time of カットオフ周波数 is -1 s; times count from the start, 0 s or later"},
      {"render " + filter + " " + dir / "in.wav " + dir.path(), "cannot write " + dir.path() + ": it is a folder"},
      {"render " + filter + " " + dir / "in.wav " + dir / "", "cannot write " + dir / "" + ": it is a folder"},
      {"render " + filter + " " + dir / "none.wav " + out, "cannot read " + dir / "none.wav: there is no such file"},
      {"response " + filter + " --svg " + dir / "r.png", "--svg writes an SVG chart: name it with .svg"},
      {"render " + filter + " " + dir / "in.wav " + out + " --set カットオフ周波数=soon:100", "not a number"},
      {"render " + filter + " " + dir / "in.wav " + out + " --set カットオフ周波数=nan:100", "must be a finite number"},
      {"render " + dir / "in.wav " + out + " --plugin " + filter + " --plugin /nonexistent.auf2", "cannot open"},
      {"render " + dir / "in.wav " + out + " --plugin " + filter + " --plugin " + TestPlugin("test_probe") +
           " --set choice=fail", "test_probe.auf2 failed on frame 0"},
      {"render " + dir / "in.wav " + out + " --set 1=0 --plugin " + filter, "comes before any plug-in"},
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
  // A value outside its slider is used, with one warning that names the range.
  Outcome o = Tool("render " + filter + " " + dir / "in.wav " + out + " --set クォリティファクター=0:9,1:0.1,2:7");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err.substr(0, o.err.find('\n') + 1),
            "velmor-host render: warning: クォリティファクター=9 is outside its slider's range 0.5 to 5; used as given\n");
  EXPECT_EQ(Tool("render --help").status, 0);
  EXPECT_EQ(Tool("validate --help").status, 0);
}

// A name without a folder is the file of that name in the current folder, as
// the README's examples write it, never a name for the loader to look up.
TEST(VelmorHost, APlainNameIsAFileInTheCurrentFolder) {
  TempDir dir;
  WriteSound(dir / "in.wav", Noise(44100, 2, 4410));
  for (const std::string& arguments : {std::string("info VelmorFilter.auf2"), std::string("validate VelmorFilter.auf2"),
                                       "render VelmorFilter.auf2 " + dir / "in.wav " + dir / "out.wav"}) {
    const Outcome o = Tool(arguments, kPluginDir);
    EXPECT_EQ(o.status, 0) << arguments << "\n" << o.out << o.err;
  }
}

// Input that is not finite and output beyond full scale are each warned about
// once; a format of integers clips (never wraps) what it cannot hold. The demo
// signal stays finite however long it is.
TEST(VelmorHost, WarnsOnceOfInputThatIsNotFiniteAndOfOvers) {
  TempDir dir;
  ASSERT_EQ(Tool("signal " + dir / "long.wav --seconds 600 --rate 8000").status, 0);
  const Sound demo = ReadSound(dir / "long.wav");
  ASSERT_EQ(demo.samples.size(), 2u * 600 * 8000);
  EXPECT_TRUE(std::all_of(demo.samples.begin(), demo.samples.end(), [](float x) { return std::isfinite(x); }));

  Sound noise = Noise(44100, 2, 44100);
  noise.samples[2 * 4410 + 1] = NAN;
  noise.samples[2 * 8820] = INFINITY;
  WriteSound(dir / "nan.wav", noise);
  Outcome o = Tool("render " + Plugin("VelmorFilter") + " " + dir / "nan.wav " + dir / "out.wav");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "velmor-host render: warning: " + dir / "nan.wav" + " holds a sample that is not a finite number "
                   "(NaN or infinity) at 0.100 s; the plug-ins get it as it is\n");

  for (auto& x : noise.samples) x = std::isfinite(x) ? x * 2.0f : 0.0f;
  WriteSound(dir / "loud.wav", noise);
  const std::string loud = "render " + Plugin("VelmorEqualizer") + " " + dir / "loud.wav ";
  o = Tool(loud + dir / "out.flac --set 100Hz=12");
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.err.find("warning: the output peaks at +"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("out.flac holds whole numbers, so those samples are clipped\n"), std::string::npos) << o.err;
  // and the one line that says FLAC holds the float input as 24-bit
  EXPECT_NE(o.err.find("loud.wav is 32-bit float; " + dir / "out.flac" + " is written as 24-bit (--bits chooses)\n"),
            std::string::npos) << o.err;
  EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 2) << o.err;
  const Sound clipped = ReadSound(dir / "out.flac");
  ASSERT_FALSE(clipped.samples.empty());
  EXPECT_EQ(*std::max_element(clipped.samples.begin(), clipped.samples.end()), 8388607.0f / 8388608.0f);
  EXPECT_EQ(*std::min_element(clipped.samples.begin(), clipped.samples.end()), -1.0f);
  o = Tool(loud + dir / "out.wav --set 100Hz=12 --stats");
  EXPECT_NE(o.err.find("dBTP; " + dir / "out.wav" + " keeps float samples as they are"), std::string::npos) << o.err;
}

// Ctrl-C or a kill during a render leaves neither the output nor its partial
// file, and the tool ends by that signal.
TEST(VelmorHost, SignalsLeaveNoPartialFile) {
  TempDir dir;
  WriteSound(dir / "in.wav", Noise(44100, 2, 44100 * 30));
  // SIGKILL too: the output is written into a nameless file until it is complete.
  for (int signal : {SIGINT, SIGTERM, SIGKILL}) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const std::string command = "exec " + std::string(VELMOR_HOST_TOOL) + " render " + Plugin("VelmorPitchShifter") +
                                  " " + dir / "in.wav " + dir / "out.wav --block 1 >/dev/null 2>&1";
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    // The render has begun once it holds a file open in the folder.
    auto writing = [&] {
      const std::string fds = "/proc/" + std::to_string(child) + "/fd";
      return std::system(("ls -l " + fds + " 2>/dev/null | grep -q '" + dir.path() + "/[#o]'").c_str()) == 0;
    };
    bool began = false;
    for (int i = 0; i < 2000 && !(began = writing()); ++i) usleep(5000);
    EXPECT_TRUE(began) << "the render wrote nothing";
    kill(child, signal);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    EXPECT_EQ(std::system(("test \"$(ls -A " + dir.path() + ")\" = in.wav").c_str()), 0) << "left behind in " << dir.path();
  }
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
// The limit leaves room for a real plug-in's check in an instrumented build
// on a busy machine (half a second did not, under coverage).
TEST(VelmorHost, ValidateTimesOutPluginsThatHang) {
  const std::string filter = Plugin("VelmorFilter");
  Outcome o = Tool("validate --timeout 2 " + TestPlugin("test_spin_in_initialize") + " " +
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
// The points of one curve of a measurement's --csv output.
struct Curve {
  std::vector<double> x, y;
  // Linear interpolation at x.
  double At(double at) const {
    for (size_t i = 1; i < x.size(); ++i)
      if (x[i] >= at) return y[i - 1] + (y[i] - y[i - 1]) * (at - x[i - 1]) / (x[i] - x[i - 1]);
    return y.back();
  }
};

std::map<std::string, Curve> Measure(const std::string& arguments) {
  TempDir dir;
  Outcome o = Tool(arguments + " --csv " + dir / "m.csv");
  EXPECT_EQ(o.status, 0) << arguments << "\n" << o.err;
  std::ifstream csv(dir / "m.csv");
  std::map<std::string, Curve> curves;  // "panel/series"
  std::string line;
  std::getline(csv, line);
  while (std::getline(csv, line)) {
    const size_t a = line.find("\",\""), b = line.find("\",", a + 3);
    double x, y;
    if (a == std::string::npos || b == std::string::npos || std::sscanf(line.c_str() + b + 2, "%lf,%lf", &x, &y) != 2) continue;
    Curve& c = curves[line.substr(1, a - 1) + "/" + line.substr(a + 3, b - a - 3)];
    c.x.push_back(x), c.y.push_back(y);
  }
  return curves;
}

TEST(VelmorHost, ResponseOfTheLowPass) {
  const Curve lp = Measure("response " + Plugin("VelmorFilter") + " --set カットオフ周波数=1000")["/"];
  ASSERT_GE(lp.x.size(), 200u);
  EXPECT_NEAR(lp.At(50), 0.0, 0.1);
  EXPECT_NEAR(lp.At(200), 0.0, 0.3);
  EXPECT_NEAR(lp.At(1000), 0.0, 0.2);  // Q 1: unity gain at the cutoff
  EXPECT_NEAR(lp.At(3000) - lp.At(6000), 12.0, 1.5);
  EXPECT_NEAR(lp.At(2500) - lp.At(5000), 12.0, 1.5);
}

// Each measurement sees what its plug-in is known to do.
TEST(VelmorHost, MeasurementsSeeWhatThePluginsDo) {
  // The normal delay: an impulse in channel 0 comes back on channel 1 at the
  // delay time with the echo level, then on channel 0 at twice the time.
  auto delay = Measure("impulse " + Plugin("VelmorDelay") + " --seconds 0.6 --set ディレイタイム=250 --set フィードバック=0.6"
                       " --panel-each タイプ=ノーマル,1");
  const Curve& right = delay["ノーマル/右 (ch 1)"];
  ASSERT_EQ(right.y.size(), 26460u);
  EXPECT_EQ(right.y[11025], 0.5);
  EXPECT_EQ(std::count(right.y.begin(), right.y.end(), 0.0), 26459);
  EXPECT_EQ(static_cast<float>(delay["ノーマル/左 (ch 0)"].y[22050]), 0.24000001f);
  EXPECT_EQ(delay["ピンポン(右から)/右 (ch 1)"].y[11025], 0.25);

  // The panner's two gains add up to 2 - depth; depth 0 is no change.
  auto panner = Measure("gain " + Plugin("VelmorTremolo") + " --seconds 0.5 --set タイプ=パンナー --set 波形タイプ=三角波"
                        " --series d --set 深さ=0.4 --series none --set 深さ=0");
  const Curve &left = panner["/d 左 (ch 0)"], &other = panner["/d 右 (ch 1)"];
  ASSERT_EQ(left.y.size(), 22050u);
  for (size_t i = 0; i < left.y.size(); ++i) ASSERT_NEAR(left.y[i] + other.y[i], 1.6, 1e-6) << i;
  EXPECT_NEAR(*std::min_element(left.y.begin(), left.y.end()), 0.6, 0.01);
  const Curve& flat = panner["/none"];
  EXPECT_TRUE(std::all_of(flat.y.begin(), flat.y.end(), [](double g) { return g == 1.0; }));

  // FM at depth 0 delays by 500 samples, once its line has filled.
  const Curve lag = Measure("lag " + Plugin("VelmorModulator") + " --set タイプ=1 --set 深さ=0 --seconds 0.05")["/"];
  EXPECT_NEAR(lag.At(20), 1000.0 * 500 / 44100, 1e-4);
  EXPECT_NEAR(lag.At(45), 1000.0 * 500 / 44100, 1e-4);

  // An octave up, and the input's own pitch.
  auto pitch = Measure("pitch " + Plugin("VelmorPitchShifter") + " --each ピッチ=12 --seconds 0.3");
  EXPECT_NEAR(pitch["/入力"].At(150), 440.0, 0.01);
  EXPECT_NEAR(pitch["/ピッチ 12"].At(150), 880.0, 15.0);

  // The overdrive at small levels: linear; at full level: clipped.
  auto transfer = Measure("transfer " + Plugin("VelmorDistortion") + " --frequency 1000 --set タイプ=オーバードライブ");
  const Curve& level = transfer["/"];
  ASSERT_EQ(level.x.size(), 61u);
  EXPECT_NEAR(level.At(-50) - level.At(-60), 10.0, 0.2);
  EXPECT_NEAR(level.At(0), level.At(-10), 0.1);

  // Bad requests are one-line usage errors.
  for (const char* bad : {"gain %s", "gain %s --svg x.svg --each 深さ", "gain %s --svg x.svg --from 5",
                          "impulse %s --svg x.svg --channel 3", "gain %s --svg x.svg --ymin 1 --ymax 0"}) {
    char command[512];
    std::snprintf(command, sizeof command, bad, Plugin("VelmorTremolo").c_str());
    Outcome o = Tool(command);
    EXPECT_EQ(o.status, 2) << command;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
  }
}

// What new users typed, each answered in one line that says what to do.
TEST(VelmorHost, MistakesGetOneLineThatSaysWhatToDo) {
  TempDir dir;
  WriteSound(dir / "in.wav", Noise(44100, 2, 4410));
  { std::ofstream(dir / "windows.auf2") << "MZ\x90 not an ELF file"; }
  const std::string filter = Plugin("VelmorFilter"), in = dir / "in.wav", out = dir / "out.wav";
  const std::string render = "render " + filter + " " + in + " " + out;
  const std::pair<std::string, std::string> cases[] = {
      {render + " --set カットオフ周波数=inf", "value for カットオフ周波数 must be a finite number, not 'inf'"},
      {render + " --set カットオフ周波数=-inf", "must be a finite number, not '-inf'"},
      {render + " --set カットオフ周波数=0x10", "value for カットオフ周波数 is not a number: '0x10'"},
      {render + " --fps inf", "--fps must be a finite number, not 'inf'"},
      {render + " --block 0", "--block must be a whole number from 1 to 16777216, not 0"},
      {render + " --rate 1", "--rate must be a whole number from 1000 to 768000, not 1"},
      {render + " --tail -1", "--tail must be 0 to 3600 seconds"},
      {render + " --set カットオフ周波数=800 --set カットオフ周波数=900",
       "カットオフ周波数 is set twice for " + filter + "; one --set takes keyframes: カットオフ周波数=0:VALUE,SECONDS:VALUE"},
      {"render " + filter + " " + in + " " + dir / "nope/out.wav", "the folder " + dir / "nope" + " does not exist"},
      {"info " + dir / "windows.auf2", "windows.auf2 is a Windows DLL; on Linux use the native build (build/default/plugins/)"},
      {"info NoSuchPlugin.auf2", "cannot open NoSuchPlugin.auf2: it is in none of the current folder, "},
      {"rendr", "unknown command 'rendr'; did you mean 'render'?"},
      {"hepl", "unknown command 'hepl'; did you mean 'help'?"},
      {render + " --set 音量=1", "(items: フィルタタイプ (type), カットオフ周波数 (cutoff), クォリティファクター (q))"},
  };
  for (const auto& [arguments, message] : cases) {
    const Outcome o = Tool(arguments, dir.path());
    EXPECT_NE(o.status, 0) << arguments;
    EXPECT_NE(o.err.find(message), std::string::npos) << arguments << "\n" << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
  }
  const Outcome help = Tool("help"), renderHelp = Tool("help render");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage"), std::string::npos);
  EXPECT_EQ(renderHelp.status, 0);
  EXPECT_EQ(renderHelp.out.rfind("usage: velmor-host render", 0), 0u);
  const Outcome folder = Tool("validate " + dir.path());
  EXPECT_NE(folder.status, 0);
  EXPECT_NE(folder.out.find("it is a folder, not a plug-in"), std::string::npos) << folder.out;
}

// Labels as Japanese keyboards type them (full-width parentheses and
// digits), the LV2 port symbols, and a bare plug-in name from any folder:
// the same render as the labels as the editor shows them.
TEST(VelmorHost, LabelsAsTypedSymbolsAndBareNamesFindTheirItems) {
  TempDir dir;
  WriteSound(dir / "in.wav", Noise(44100, 2, 8820));
  const std::string delay = Plugin("VelmorDelay");
  ASSERT_EQ(Tool("render " + delay + " " + dir / "in.wav " + dir / "a.wav --set '音量(原音)=50' --set ディレイタイム=120").status, 0);
  const Outcome typed = Tool("render " + delay + " " + dir / "in.wav " + dir / "b.wav --set '音量（原音）=５０' --set time=120");
  EXPECT_EQ(typed.status, 0) << typed.err;
  const Outcome bare = Tool("render VelmorDelay.auf2 " + dir / "in.wav " + dir / "c.wav --set dry=50 --set 'ディレイタイム=120'",
                            dir.path());
  EXPECT_EQ(bare.status, 0) << bare.err;
  EXPECT_EQ(ReadSound(dir / "a.wav").samples, ReadSound(dir / "b.wav").samples);
  EXPECT_EQ(ReadSound(dir / "a.wav").samples, ReadSound(dir / "c.wav").samples);
}

// Stacks keep each use's own object when given --id; uses that share one
// are said to once. --tail lets echoes ring out. A WAV whose data ends early
// is warned about with the times. Samples a format of integers cannot hold
// are written as it can and counted. Two renders of one input are the same
// bytes. CSV fields keep their quotes.
TEST(VelmorHost, StacksTailsDamagedInputFormatsAndFiles) {
  TempDir dir;
  Sound click{44100, 2, std::vector<float>(2 * 13230, 0.0f)};
  click.samples[0] = click.samples[1] = 1.0f;
  WriteSound(dir / "click.wav", click);
  const std::string delay = Plugin("VelmorDelay");
  const std::string stack = "render " + dir / "click.wav " + dir / "stack.wav --plugin " + delay +
                            " --set ディレイタイム=100 --plugin " + delay + " --set ディレイタイム=300";
  const Outcome shared = Tool(stack);
  EXPECT_EQ(shared.status, 0);
  EXPECT_NE(shared.err.find("is used twice for object 1: both uses share one object's state"), std::string::npos)
      << shared.err;
  const Outcome apart = Tool("render " + dir / "click.wav " + dir / "apart.wav --plugin " + delay +
                             " --id 1 --set ディレイタイム=100 --plugin " + delay + " --id 2 --set ディレイタイム=300");
  EXPECT_EQ(apart.status, 0);
  EXPECT_EQ(apart.err.find("used twice"), std::string::npos) << apart.err;
  EXPECT_NE(ReadSound(dir / "apart.wav").samples, ReadSound(dir / "stack.wav").samples);

  const Outcome tail = Tool("render " + delay + " " + dir / "click.wav " + dir / "tail.wav --set ディレイタイム=1000 --tail 1.5");
  EXPECT_EQ(tail.status, 0) << tail.err;
  const Sound echoed = ReadSound(dir / "tail.wav");
  ASSERT_EQ(echoed.samples.size(), 2u * (13230 + 66150));
  EXPECT_NE(echoed.samples[2 * 44100], 0.0f);  // the echo, 1 s after the click

  // A WAV whose header says 2 s and whose data holds 0.3 s.
  Sound two{44100, 2, std::vector<float>(2 * 88200, 0.25f)};
  WriteSound(dir / "cut.wav", two);
  ASSERT_EQ(truncate((dir / "cut.wav").c_str(), 44 + 8 * 13230 + 100), 0);
  const Outcome cut = Tool("render " + Plugin("VelmorFilter") + " " + dir / "cut.wav " + dir / "cut-out.wav");
  EXPECT_EQ(cut.status, 0);
  EXPECT_NE(cut.err.find("cut.wav ends at 0.300 s, although its header says 2.000 s"), std::string::npos) << cut.err;

  Sound broken{44100, 2, std::vector<float>(2 * 4410, 0.1f)};
  broken.samples[100] = NAN;
  WriteSound(dir / "nan.wav", broken);
  const Outcome flac = Tool("render " + Plugin("VelmorEqualizer") + " " + dir / "nan.wav " + dir / "nan.flac");
  EXPECT_EQ(flac.status, 0) << flac.err;
  EXPECT_EQ(flac.err.find("No Error"), std::string::npos);
  EXPECT_NE(flac.err.find("samples that are not finite numbers; " + dir / "nan.flac" + " holds whole numbers"),
            std::string::npos) << flac.err;

  auto bytes = [](const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), {});
  };
  ASSERT_EQ(Tool("render " + delay + " " + dir / "click.wav " + dir / "one.wav").status, 0);
  sleep(1);
  ASSERT_EQ(Tool("render " + delay + " " + dir / "click.wav " + dir / "two.wav").status, 0);
  EXPECT_EQ(bytes(dir / "one.wav"), bytes(dir / "two.wav"));

  ASSERT_EQ(Tool("response " + Plugin("VelmorFilter") + " --csv " + dir / "q.csv --series 'say \"hi\"'").status, 0);
  EXPECT_NE(bytes(dir / "q.csv").find(",\"say \"\"hi\"\"\","), std::string::npos);
  // A chart of several curves keeps the settings they share in its title.
  ASSERT_EQ(Tool("response " + Plugin("VelmorFilter") + " --svg " + dir / "e.svg --set カットオフ周波数=1000 "
                 "--each クォリティファクター=0.5,5").status, 0);
  EXPECT_NE(bytes(dir / "e.svg").find("(カットオフ周波数=1000), 44100 Hz"), std::string::npos);
  // Loudness is undefined below 8000 Hz, and says so.
  Sound low{4000, 2, std::vector<float>(2 * 8000, 0.3f)};
  WriteSound(dir / "low.wav", low);
  const Outcome stats = Tool("render " + Plugin("VelmorFilter") + " " + dir / "low.wav --null --stats");
  EXPECT_NE(stats.out.find("lufs_in=n/a lra_in=n/a"), std::string::npos) << stats.out;
}

// The output goes where it is told: into the file a link names, into a
// device or standard output, keeping an existing file's mode and its other
// hard links; never over the input; nowhere with --null.
TEST(VelmorHost, WritesIntoThePathNamedAndKeepsWhatItFinds) {
  TempDir dir;
  WriteSound(dir / "in.wav", Noise(44100, 2, 4410));
  const std::string render = "render " + Plugin("VelmorFilter") + " " + dir / "in.wav ";
  ASSERT_EQ(Tool(render + dir / "plain.wav").status, 0);
  const Sound plain = ReadSound(dir / "plain.wav");
  ASSERT_FALSE(plain.samples.empty());
  struct stat st {};

  ASSERT_EQ(symlink("target.wav", (dir / "link.wav").c_str()), 0);
  ASSERT_EQ(Tool(render + dir / "link.wav").status, 0);
  ASSERT_EQ(lstat((dir / "link.wav").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadSound(dir / "target.wav").samples, plain.samples);

  { std::ofstream(dir / "private.wav") << "old"; }
  chmod((dir / "private.wav").c_str(), 0600);
  ASSERT_EQ(link((dir / "private.wav").c_str(), (dir / "other-name.wav").c_str()), 0);
  ASSERT_EQ(Tool(render + dir / "private.wav").status, 0);
  ASSERT_EQ(stat((dir / "private.wav").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_nlink, 2u);
  EXPECT_EQ(ReadSound(dir / "other-name.wav").samples, plain.samples);

  const Outcome toStdout = Tool(render + "- --stats");
  EXPECT_EQ(toStdout.status, 0) << toStdout.err;
  EXPECT_EQ(toStdout.out.rfind("RIFF", 0), 0u);
  EXPECT_NE(toStdout.err.find("stats: "), std::string::npos);
  const Outcome raw = Tool(render + "- --raw");
  EXPECT_EQ(raw.status, 0) << raw.err;
  ASSERT_EQ(raw.out.size(), plain.samples.size() * sizeof(float));
  EXPECT_EQ(std::memcmp(raw.out.data(), plain.samples.data(), raw.out.size()), 0);
  EXPECT_EQ(Tool(render + "/dev/null").status, 0);
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));

  const Outcome same = Tool(render + dir / "./in.wav");
  EXPECT_NE(same.status, 0);
  EXPECT_NE(same.err.find("is the input " + dir / "in.wav" + "; name another file for the output"), std::string::npos)
      << same.err;
  EXPECT_EQ(ReadSound(dir / "in.wav").samples.size(), 2u * 4410);

  const Outcome null = Tool("render " + Plugin("VelmorFilter") + " " + dir / "in.wav --null --stats");
  EXPECT_EQ(null.status, 0) << null.err;
  EXPECT_NE(null.out.find("stats: "), std::string::npos);
  const Outcome loud = Tool("render " + Plugin("VelmorEqualizer") + " " + dir / "in.wav -n --set band_1600=15 --set band_3200=15 --set band_6400=15");
  EXPECT_NE(loud.err.find("; nothing is written, but those samples would clip in a fixed-point format\n"),
            std::string::npos) << loud.err;
  EXPECT_EQ(std::system(("test $(ls -A " + dir.path() + " | wc -l) -eq 6").c_str()), 0);
}

// The output keeps the input's sample format where its container holds it,
// --bits and --channels choose, and every conversion is said in one line.
TEST(VelmorHost, OutputKeepsTheInputsFormatOrSaysWhatItChanges) {
  TempDir dir;
  SF_INFO info{};
  info.samplerate = 44100, info.channels = 1, info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open((dir / "mono16.wav").c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr);
  std::vector<short> pcm(4410);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<short>((i * 7919) % 20000 - 10000);
  sf_write_short(f, pcm.data(), static_cast<sf_count_t>(pcm.size()));
  sf_close(f);
  auto format = [](const std::string& path) {
    SF_INFO i{};
    SNDFILE* g = sf_open(path.c_str(), SFM_READ, &i);
    if (g) sf_close(g);
    return std::make_pair(static_cast<int>(i.format & SF_FORMAT_SUBMASK), i.channels);
  };
  const std::string render = "render " + Plugin("VelmorFilter") + " " + dir / "mono16.wav ";
  Outcome o = Tool(render + dir / "a.wav");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(format(dir / "a.wav"), std::make_pair(int{SF_FORMAT_PCM_16}, 2));
  EXPECT_EQ(o.err, "velmor-host render: " + dir / "mono16.wav" + " is mono; the effects are stereo, so it is processed "
                   "as two equal channels and written as stereo (--channels 1 writes their mean)\n");
  o = Tool(render + dir / "b.flac --channels 1");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(format(dir / "b.flac"), std::make_pair(int{SF_FORMAT_PCM_16}, 1));
  EXPECT_EQ(o.err, "");
  o = Tool(render + dir / "c.wav --bits float --channels 1");
  EXPECT_EQ(format(dir / "c.wav"), std::make_pair(int{SF_FORMAT_FLOAT}, 1));
  o = Tool(render + dir / "d.flac --bits float --channels 1");
  EXPECT_EQ(format(dir / "d.flac"), std::make_pair(int{SF_FORMAT_PCM_24}, 1));
  EXPECT_EQ(o.err, "velmor-host render: " + dir / "d.flac" + " cannot hold 32-bit float samples; it is written as 24-bit\n");
  EXPECT_NE(Tool(render + dir / "e.wav --bits 12").err.find("--bits takes 16, 24, 32 or float, not '12'"), std::string::npos);
  // Naming .ogg asks for Vorbis: no line for it.
  EXPECT_EQ(Tool(render + dir / "f.ogg --channels 1").err, "");
}

}  // namespace
}  // namespace velmor::test
