// What the velmor-host commands share: failures, the command line, plug-ins
// and their settings (arguments.cpp), audio and text files (files.cpp), the
// demo signal (signal.cpp), and one entry point per command.
#pragma once

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/plugin_host.h"

namespace velmor::cli {

// A failure that ends the command: one line on stderr, exit status 1 (or 2 for
// a usage error).
struct Failure : std::runtime_error {
  int status;
  explicit Failure(const std::string& what, int code = 1) : std::runtime_error(what), status(code) {}
};

struct UsageError : Failure {
  explicit UsageError(const std::string& what) : Failure(what, 2) {}
};

// Command-line words after the command name, consumed front to back.
class Arguments {
 public:
  Arguments(int argc, char** argv, int first) {
    for (int i = first; i < argc; ++i) words_.emplace_back(argv[i]);
  }
  bool Empty() const { return position_ >= words_.size(); }
  const std::string& Peek() const { return words_.at(position_); }
  std::string Next(const char* what) {
    if (Empty()) throw UsageError(std::string("missing ") + what);
    return words_[position_++];
  }
  bool HasHelp() const {
    for (const auto& w : words_)
      if (w == "--help" || w == "-h") return true;
    return false;
  }

 private:
  std::vector<std::string> words_;
  size_t position_ = 0;
};

// A level in dB; -inf for 0.
inline double Decibels(double linear) { return linear > 0 ? 20.0 * std::log10(linear) : -INFINITY; }

double ParseNumber(const std::string& text, const std::string& what);
int64_t ParseInteger(const std::string& text, const std::string& what);
// A whole number within [min, max]; a usage error otherwise.
int32_t ParseInt32(const std::string& text, const std::string& what, int64_t min, int64_t max);

// Loads a plug-in or fails with a clear message.
std::unique_ptr<host::Plugin> OpenPlugin(const std::string& path);

// The index of an item given by its label or 1-based index, or a usage error.
size_t FindItemOrFail(const host::Plugin& plugin, const std::string& name);
// Full-width ASCII and the ideographic space as their ASCII forms.
std::string FoldWidth(const std::string& text);
// The LV2 port symbols of one of our plug-ins' items; empty for others.
std::vector<std::string> ItemSymbols(const host::Description& description);
// A value for an item: a number for a slider; an option text or a whole
// number for a drop-down list. A usage error otherwise.
double ParseItemValue(const host::ItemInfo& item, const std::string& value);

// Applies "LABEL=VALUE" (label or 1-based index; a select item also takes an
// option text). Returns a short description for titles and reports.
std::string ApplySetting(host::Plugin& plugin, const std::string& assignment);

// Stereo audio in memory.
struct Audio {
  int sampleRate = 44100;
  std::vector<float> left, right;
  size_t frames() const { return left.size(); }
};

// An audio file read a block at a time; mono files give two equal channels.
class AudioReader {
 public:
  explicit AudioReader(const std::string& path);
  ~AudioReader();
  AudioReader(const AudioReader&) = delete;
  AudioReader& operator=(const AudioReader&) = delete;
  int sampleRate() const { return rate_; }
  int64_t frames() const { return frames_; }
  // The frames the file's header says it holds: more than frames() when the
  // file was cut short.
  int64_t declaredFrames() const { return declaredFrames_; }
  int channels() const { return channels_; }
  // libsndfile's sample format of the file (SF_FORMAT_PCM_16, ...).
  int sampleFormat() const { return sampleFormat_; }
  // Reads up to n frames into left and right; returns the number read.
  size_t Read(float* left, float* right, size_t n);

 private:
  void* file_ = nullptr;
  int rate_ = 0, channels_ = 0;
  int64_t frames_ = 0, declaredFrames_ = 0;
  int sampleFormat_ = 0;
  std::vector<float> interleaved_;
};

// Where a command's output goes, written completely before anything there
// changes:
// - a regular file (or a new one): a nameless file in its folder (Linux's
//   O_TMPFILE; elsewhere NAME.part-PID, removed on SIGINT, SIGTERM or SIGHUP)
//   linked into place by Commit(), with an existing file's mode; a kill at
//   any moment leaves nothing;
// - a symbolic link: the file it points to, as above;
// - a device, a pipe, a file with more than one hard link, or "-"
//   (standard output): the bytes are kept in memory and written into it by
//   Commit(), so that nothing is replaced.
// A name that is a folder, or in a folder that does not exist, is refused.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& path);
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const std::string& finalPath() const { return final_; }
  // Where the bytes go until Commit(): a file descriptor, or memory.
  int fd() const { return fd_; }
  bool inMemory() const { return fd_ < 0; }
  std::vector<char>& memory() { return memory_; }
  void Commit();

 private:
  std::string final_, named_;  // named_: the fallback's NAME.part-PID, or ""
  int fd_ = -1;
  int slot_ = -1;
  bool committed_ = false, toStdout_ = false;
  std::vector<char> memory_;
};

// A stereo audio file written a block at a time, its format from the
// extension. It appears under its name only when Commit() succeeds.
// The sample format and channels an output is written with.
struct OutputShape {
  int sampleFormat = 0;  // SF_FORMAT_PCM_16 and the like; 0: the container's usual one
  int channels = 2;      // 2, or 1: the mean of the two
  bool raw = false;      // headerless interleaved samples (32-bit float unless asked)
};

class AudioWriter {
 public:
  AudioWriter(const std::string& path, int sampleRate, OutputShape shape = {});
  ~AudioWriter();
  AudioWriter(const AudioWriter&) = delete;
  AudioWriter& operator=(const AudioWriter&) = delete;
  void Write(const float* left, const float* right, size_t n);
  void Commit();
  // Whether the format holds integers, so that samples beyond full scale clip.
  bool fixedPoint() const { return fixedPoint_; }
  // Samples that were NaN or infinite, written as 0 or full scale (a format
  // of integers only).
  size_t notFinite() const { return notFinite_; }

 private:
  static sf_count_t MemoryLength(void* self);
  static sf_count_t MemorySeek(sf_count_t offset, int whence, void* self);
  static sf_count_t MemoryRead(void* into, sf_count_t count, void* self);
  static sf_count_t MemoryWrite(const void* from, sf_count_t count, void* self);
  static sf_count_t MemoryTell(void* self);

  TemporaryFile output_;
  void* file_ = nullptr;
  bool fixedPoint_ = false;
  int channels_ = 2;
  size_t notFinite_ = 0;
  std::vector<float> interleaved_;
  sf_count_t at_ = 0;     // the memory file's position
  SF_VIRTUAL_IO virtual_{};
};

void WriteAudio(const std::string& path, const Audio& audio);  // format from the extension

// The sample format an output in `path` gets: `wanted` where the container
// holds it, else the container's usual one; and its name ("16-bit").
int OutputSampleFormat(const std::string& path, int wanted);
std::string SampleFormatName(int sampleFormat);

// Text with <, >, & and " escaped for XML and HTML.
std::string XmlEscape(const std::string& text);

// Writes `text` to `path` through a temporary file, so that a failed command
// never leaves a half-written file behind.
void WriteTextFile(const std::string& path, const std::string& text);

// The built-in demo signal: a chord, percussive hits and a sweep.
Audio DemoSignal(int sampleRate, double seconds);

int Info(Arguments& args);
int Render(Arguments& args);
int Validate(Arguments& args, const char* self);
int Response(Arguments& args);
int Gain(Arguments& args);
int Impulse(Arguments& args);
int Transfer(Arguments& args);
int Pitch(Arguments& args);
int Lag(Arguments& args);
int Signal(Arguments& args);

}  // namespace velmor::cli
