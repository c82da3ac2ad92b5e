#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <climits>
#include <cstring>
#include <fstream>

#include "tools/cli.h"

namespace velmor::cli {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Extension(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return Lower(path.substr(dot + 1));
}

int FormatFor(const std::string& path) {
  const std::string ext = Extension(path);
  if (ext.empty() || ext == "wav") return SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  if (ext == "flac") return SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
  if (ext == "aif" || ext == "aiff") return SF_FORMAT_AIFF | SF_FORMAT_FLOAT;
  if (ext == "caf") return SF_FORMAT_CAF | SF_FORMAT_FLOAT;
  if (ext == "w64") return SF_FORMAT_W64 | SF_FORMAT_FLOAT;
  if (ext == "au") return SF_FORMAT_AU | SF_FORMAT_FLOAT;
  if (ext == "ogg") return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
  throw Failure("unsupported output format: ." + ext + " (use .wav, .flac, .aiff, .caf, .w64, .au or .ogg)");
}

// The partial files being written, so that SIGINT, SIGTERM or SIGHUP removes
// them before the process ends as the signal says (exit 130, 143, 129).
// Fixed slots: the handler may only read memory and call unlink.
constexpr int kPartialSlots = 8;
char gPartialPath[kPartialSlots][4096];
volatile std::sig_atomic_t gPartialUsed[kPartialSlots];

extern "C" void RemovePartialFiles(int signal) {
  for (int i = 0; i < kPartialSlots; ++i)
    if (gPartialUsed[i]) unlink(gPartialPath[i]);
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigaction(signal, &fallback, nullptr);
  raise(signal);
}

int WatchPartialFile(const std::string& path) {
  static const bool installed = [] {
    struct sigaction action {};
    action.sa_handler = RemovePartialFiles;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, s);
    // A signal that the caller ignores (as a shell does for a background
    // command) stays ignored.
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction old {};
      if (sigaction(s, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) sigaction(s, &action, nullptr);
    }
    return true;
  }();
  (void)installed;
  if (path.size() >= sizeof gPartialPath[0]) return -1;
  for (int i = 0; i < kPartialSlots; ++i)
    if (!gPartialUsed[i]) {
      std::memcpy(gPartialPath[i], path.c_str(), path.size() + 1);
      gPartialUsed[i] = 1;
      return i;
    }
  return -1;
}

void ForgetPartialFile(int slot) {
  if (slot >= 0) gPartialUsed[slot] = 0;
}

bool IsFolder(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Refuses an output name that is a folder, or that names one by its slash.
void CheckOutputName(const std::string& path) {
  if (!path.empty() && (path.back() == '/' || IsFolder(path)))
    throw Failure("cannot write " + path + ": it is a folder; name a file in it, such as " +
                  (path.back() == '/' ? path : path + "/") + "out.wav");
}

// A file written next to its final name and moved there only when complete.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& path)
      : final_(path), temporary_(path + ".part-" + std::to_string(getpid())) {
    CheckOutputName(path);
    slot_ = WatchPartialFile(temporary_);
  }
  ~TemporaryFile() {
    if (!committed_) std::remove(temporary_.c_str());
    ForgetPartialFile(slot_);
  }
  const std::string& path() const { return temporary_; }
  void Commit() {
    if (std::rename(temporary_.c_str(), final_.c_str()) != 0)
      throw Failure("cannot write " + final_ + ": " + std::strerror(errno));
    committed_ = true;
  }

 private:
  std::string final_, temporary_;
  int slot_ = -1;
  bool committed_ = false;
};

}  // namespace

double ParseNumber(const std::string& text, const std::string& what) {
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || errno == ERANGE)
    throw UsageError(what + " is not a number: '" + text + "'");
  return v;
}

int64_t ParseInteger(const std::string& text, const std::string& what) {
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || end != text.c_str() + text.size() || errno == ERANGE)
    throw UsageError(what + " is not a whole number: '" + text + "'");
  return v;
}

int32_t ParseInt32(const std::string& text, const std::string& what, int64_t min, int64_t max) {
  const int64_t v = ParseInteger(text, what);
  if (v < min || v > max)
    throw UsageError(what + " must be a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
                     ", not " + text);
  return static_cast<int32_t>(v);
}

std::unique_ptr<host::Plugin> OpenPlugin(const std::string& path) {
  if (access(path.c_str(), R_OK) != 0) throw Failure("cannot open " + path + ": " + std::strerror(errno));
  std::string error;
  auto plugin = host::Plugin::Load(path, &error);
  if (!plugin) throw Failure(path + " is not a usable plug-in: " + error);
  return plugin;
}

size_t FindItemOrFail(const host::Plugin& plugin, const std::string& name) {
  const int index = plugin.FindItem(name);
  if (index >= 0) return static_cast<size_t>(index);
  std::string labels;
  for (const auto& item : plugin.description().items) labels += (labels.empty() ? "" : ", ") + item.label;
  throw UsageError("unknown item '" + name + "' (items: " + labels + ")");
}

double ParseItemValue(const host::ItemInfo& item, const std::string& value) {
  if (item.kind != host::ItemKind::Select) return ParseNumber(value, "value for " + item.label);
  for (const auto& option : item.options)
    if (option.name == value) return option.value;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0') {
    std::string options;
    for (const auto& option : item.options) options += (options.empty() ? "" : ", ") + option.name;
    throw UsageError("unknown option '" + value + "' for " + item.label + " (options: " + options + ")");
  }
  if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX)
    throw UsageError("value for " + item.label + " must be an option or a whole number from -2147483648 to 2147483647, not " + value);
  return static_cast<double>(v);
}

std::string ApplySetting(host::Plugin& plugin, const std::string& assignment) {
  const size_t eq = assignment.find('=');
  if (eq == std::string::npos || eq == 0) throw UsageError("--set takes NAME=VALUE, not '" + assignment + "'");
  const size_t index = FindItemOrFail(plugin, assignment.substr(0, eq));
  const host::ItemInfo& item = plugin.description().items[index];
  const std::string value = assignment.substr(eq + 1);
  const double v = ParseItemValue(item, value);
  plugin.SetValue(index, v);
  if (item.kind == host::ItemKind::Select)
    for (const auto& option : item.options)
      if (option.value == v) return item.label + "=" + option.name;
  return item.label + "=" + value;
}

AudioReader::AudioReader(const std::string& path) {
  if (access(path.c_str(), F_OK) != 0) throw Failure("cannot read " + path + ": there is no such file");
  if (IsFolder(path)) throw Failure("cannot read " + path + ": it is a folder, not an audio file");
  if (access(path.c_str(), R_OK) != 0) throw Failure("cannot read " + path + ": permission denied");
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr)
    throw Failure("cannot read " + path + ": not an audio file that libsndfile reads (" + sf_strerror(nullptr) + ")");
  if (info.channels < 1 || info.channels > 2) {
    sf_close(file);
    throw Failure(path + " has " + std::to_string(info.channels) +
                  " channels; only mono and stereo files can be rendered");
  }
  file_ = file;
  rate_ = info.samplerate;
  channels_ = info.channels;
  frames_ = info.frames;
}

AudioReader::~AudioReader() {
  if (file_) sf_close(static_cast<SNDFILE*>(file_));
}

size_t AudioReader::Read(float* left, float* right, size_t n) {
  interleaved_.resize(n * static_cast<size_t>(channels_));
  const sf_count_t got = sf_readf_float(static_cast<SNDFILE*>(file_), interleaved_.data(), static_cast<sf_count_t>(n));
  const size_t frames = got > 0 ? static_cast<size_t>(got) : 0;
  const size_t c = static_cast<size_t>(channels_);
  for (size_t i = 0; i < frames; ++i) {
    left[i] = interleaved_[i * c];
    right[i] = interleaved_[i * c + c - 1];
  }
  return frames;
}

AudioWriter::AudioWriter(const std::string& path, int sampleRate)
    : path_(path), temporary_(path + ".part-" + std::to_string(getpid())) {
  CheckOutputName(path);
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = 2;
  info.format = FormatFor(path);
  if (!sf_format_check(&info))
    throw Failure("cannot write " + path + " at " + std::to_string(sampleRate) + " Hz in that format");
  const int subtype = info.format & SF_FORMAT_SUBMASK;
  fixedPoint_ = subtype != SF_FORMAT_FLOAT && subtype != SF_FORMAT_DOUBLE && subtype != SF_FORMAT_VORBIS;
  slot_ = WatchPartialFile(temporary_);
  file_ = sf_open(temporary_.c_str(), SFM_WRITE, &info);
  if (file_ == nullptr) {
    ForgetPartialFile(slot_);
    throw Failure("cannot write " + path + ": " + sf_strerror(nullptr));
  }
  // Samples beyond full scale are clipped, never wrapped round, when the
  // format holds integers.
  sf_command(static_cast<SNDFILE*>(file_), SFC_SET_CLIPPING, nullptr, SF_TRUE);
}

AudioWriter::~AudioWriter() {
  if (file_) sf_close(static_cast<SNDFILE*>(file_));
  if (!committed_) std::remove(temporary_.c_str());
  ForgetPartialFile(slot_);
}

void AudioWriter::Write(const float* left, const float* right, size_t n) {
  interleaved_.resize(2 * n);
  for (size_t i = 0; i < n; ++i) {
    interleaved_[2 * i] = left[i];
    interleaved_[2 * i + 1] = right[i];
  }
  if (sf_writef_float(static_cast<SNDFILE*>(file_), interleaved_.data(), static_cast<sf_count_t>(n)) !=
      static_cast<sf_count_t>(n))
    throw Failure("cannot write " + path_ + ": " + sf_strerror(static_cast<SNDFILE*>(file_)));
}

void AudioWriter::Commit() {
  const int closed = sf_close(static_cast<SNDFILE*>(file_));
  file_ = nullptr;
  if (closed != 0) throw Failure("cannot write " + path_);
  if (std::rename(temporary_.c_str(), path_.c_str()) != 0)
    throw Failure("cannot write " + path_ + ": " + std::strerror(errno));
  committed_ = true;
}

void WriteAudio(const std::string& path, const Audio& audio) {
  AudioWriter out(path, audio.sampleRate);
  out.Write(audio.left.data(), audio.right.data(), audio.frames());
  out.Commit();
}

std::string XmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '&') out += "&amp;";
    else if (c == '"') out += "&quot;";
    else out += c;
  }
  return out;
}

void WriteTextFile(const std::string& path, const std::string& text) {
  TemporaryFile out(path);
  {
    std::ofstream file(out.path(), std::ios::binary);
    file << text;
    file.flush();
    if (!file) throw Failure("cannot write " + path + ": " + std::strerror(errno));
  }
  out.Commit();
}

Audio DemoSignal(int sampleRate, double seconds) {
  Audio a;
  a.sampleRate = sampleRate;
  const size_t n = static_cast<size_t>(seconds * sampleRate);
  a.left.assign(n, 0.0f);
  a.right.assign(n, 0.0f);
  const double fs = sampleRate;
  const double chord[] = {220.0, 277.18, 329.63, 440.0};  // A major
  uint32_t noise = 12345;
  // The pattern repeats every 8 s, so that a signal of any length stays
  // finite and keeps its character (its sweep would otherwise overflow).
  const size_t cycle = static_cast<size_t>(8 * sampleRate);
  for (size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i % cycle) / fs;
    const double end = std::min(8.0, seconds - static_cast<double>(i - i % cycle) / fs);
    double l = 0, r = 0;
    // 0 to 3 s: a sustained chord, spread a little across the channels.
    if (t < 3.0) {
      const double envelope = std::min(1.0, t * 8.0) * std::min(1.0, (3.0 - t) * 4.0);
      for (int k = 0; k < 4; ++k) {
        const double v = std::sin(2.0 * M_PI * chord[k] * t) * 0.12 * envelope;
        l += v * (k % 2 ? 0.7 : 1.0);
        r += v * (k % 2 ? 1.0 : 0.7);
      }
    }
    // 2.5 to 5.5 s: percussive hits, a noise burst and a low thump, four per second.
    if (t >= 2.5 && t < 5.5) {
      const double since = std::fmod(t - 2.5, 0.25);
      noise = noise * 1664525u + 1013904223u;
      const double white = (static_cast<double>(noise >> 8) / 8388608.0) - 1.0;
      const double hit = std::exp(-since * 40.0) * (0.35 * white + 0.5 * std::sin(2.0 * M_PI * 60.0 * since));
      l += hit;
      r += hit * 0.8;
    }
    // 5 to 8 s: a logarithmic sweep from 40 Hz to 16 kHz, faded out over its
    // last 0.1 s.
    if (t >= 5.0) {
      const double u = (t - 5.0) / 3.0;
      const double k = std::log(16000.0 / 40.0);
      const double phase = 2.0 * M_PI * 40.0 * 3.0 * (std::exp(k * u) - 1.0) / k;
      const double v = 0.3 * std::sin(phase) * std::min(1.0, (end - t) * 10.0);
      l += v;
      r += v;
    }
    a.left[i] = static_cast<float>(l);
    a.right[i] = static_cast<float>(r);
  }
  // Peak at -3 dBFS, leaving the effects some headroom.
  float peak = 0;
  for (size_t i = 0; i < n; ++i) peak = std::max({peak, std::fabs(a.left[i]), std::fabs(a.right[i])});
  const float scale = peak > 0 ? 0.70710678f / peak : 1.0f;
  for (size_t i = 0; i < n; ++i) a.left[i] *= scale, a.right[i] *= scale;
  return a;
}

}  // namespace velmor::cli
