// Files the commands write: audio through libsndfile and text, each written
// beside its final name and moved there only when complete, so that a failed
// or interrupted command never leaves a half-written file behind.
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "velmor-host/cli.h"

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

// Refuses an output name that is a folder, or that names one by its slash,
// or whose folder is missing.
void CheckOutputName(const std::string& path) {
  if (!path.empty() && (path.back() == '/' || IsFolder(path)))
    throw Failure("cannot write " + path + ": it is a folder; name a file in it, such as " +
                  (path.back() == '/' ? path : path + "/") + "out.wav");
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  if (!IsFolder(folder)) throw Failure("cannot write " + path + ": the folder " + folder + " does not exist");
}

}  // namespace

TemporaryFile::TemporaryFile(const std::string& path)
    : final_(path), temporary_(path + ".part-" + std::to_string(getpid())) {
  CheckOutputName(path);
  slot_ = WatchPartialFile(temporary_);
}

TemporaryFile::~TemporaryFile() {
  if (!committed_) std::remove(temporary_.c_str());
  ForgetPartialFile(slot_);
}

void TemporaryFile::Commit() {
  if (std::rename(temporary_.c_str(), final_.c_str()) != 0)
    throw Failure("cannot write " + final_ + ": " + std::strerror(errno));
  committed_ = true;
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
  declaredFrames_ = frames_;
  // A file cut short: libsndfile reads what is there and logs the data
  // chunk's size as the header says it ("data : 352800 (should be 49912)").
  char log[4096] = {};
  sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
  for (const char* chunk : {"\ndata : ", "\nSSND : "}) {
    const char* at = std::strstr(log, chunk);
    unsigned long long said = 0, held = 0;
    if (at != nullptr && std::sscanf(at + std::strlen(chunk), "%llu (should be %llu)", &said, &held) == 2 && held > 0 &&
        said > held)
      declaredFrames_ = static_cast<int64_t>(static_cast<double>(frames_) * static_cast<double>(said) / static_cast<double>(held));
  }
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

AudioWriter::AudioWriter(const std::string& path, int sampleRate) : output_(path) {
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = 2;
  info.format = FormatFor(path);
  if (!sf_format_check(&info))
    throw Failure("cannot write " + path + " at " + std::to_string(sampleRate) + " Hz in that format");
  const int subtype = info.format & SF_FORMAT_SUBMASK;
  fixedPoint_ = subtype != SF_FORMAT_FLOAT && subtype != SF_FORMAT_DOUBLE && subtype != SF_FORMAT_VORBIS;
  file_ = sf_open(output_.path().c_str(), SFM_WRITE, &info);
  if (file_ == nullptr) throw Failure("cannot write " + path + ": " + sf_strerror(nullptr));
  // Samples beyond full scale are clipped, never wrapped round, when the
  // format holds integers; and no PEAK chunk, whose time stamp would make
  // two renders of one input differ.
  sf_command(static_cast<SNDFILE*>(file_), SFC_SET_CLIPPING, nullptr, SF_TRUE);
  sf_command(static_cast<SNDFILE*>(file_), SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
}

// Closed before the temporary file (a member) removes what was not committed.
AudioWriter::~AudioWriter() {
  if (file_) sf_close(static_cast<SNDFILE*>(file_));
}

void AudioWriter::Write(const float* left, const float* right, size_t n) {
  interleaved_.resize(2 * n);
  for (size_t i = 0; i < n; ++i) {
    interleaved_[2 * i] = left[i];
    interleaved_[2 * i + 1] = right[i];
  }
  // A format of whole numbers holds no NaN or infinity: NaN is written as 0,
  // an infinity as full scale (clipped), and each is counted.
  if (fixedPoint_)
    for (float& x : interleaved_)
      if (!std::isfinite(x)) x = std::isnan(x) ? 0.0f : std::copysign(1.0f, x), ++notFinite_;
  if (sf_writef_float(static_cast<SNDFILE*>(file_), interleaved_.data(), static_cast<sf_count_t>(n)) !=
      static_cast<sf_count_t>(n))
    throw Failure("cannot write " + output_.finalPath() + ": " + sf_strerror(static_cast<SNDFILE*>(file_)));
}

void AudioWriter::Commit() {
  const int closed = sf_close(static_cast<SNDFILE*>(file_));
  file_ = nullptr;
  if (closed != 0) throw Failure("cannot write " + output_.finalPath());
  output_.Commit();
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

}  // namespace velmor::cli
