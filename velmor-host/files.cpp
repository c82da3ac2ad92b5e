// Files the commands write: audio through libsndfile and text, each written
// beside its final name and moved there only when complete, so that a failed
// or interrupted command never leaves a half-written file behind.
#include <sndfile.h>
#include <fcntl.h>
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
  if (ext.empty() || ext == "wav" || path == "-") return SF_FORMAT_WAV | SF_FORMAT_FLOAT;
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

// The folder a path names its file in ("." for a bare name).
std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The name a render is written under until it is complete, beside the final one.
std::string PartName(const std::string& path) { return path + ".part-" + std::to_string(getpid()); }

// Refuses an output name that is a folder, or that names one by its slash,
// or whose folder is missing.
void CheckOutputName(const std::string& path) {
  if (!path.empty() && (path.back() == '/' || IsFolder(path)))
    throw Failure("cannot write " + path + ": it is a folder; name a file in it, such as " +
                  (path.back() == '/' ? path : path + "/") + "out.wav");
  const std::string folder = FolderOf(path);
  if (!IsFolder(folder)) throw Failure("cannot write " + path + ": the folder " + folder + " does not exist");
}

}  // namespace

TemporaryFile::TemporaryFile(const std::string& path) : final_(path) {
  if (path == "-") {
    toStdout_ = true;
    return;
  }
  // A link is followed to the file it names (a dangling one: the file it
  // would name).
  struct stat link {};
  if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    char target[4096];
    const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    if (n > 0) {
      const std::string to(target, static_cast<size_t>(n));
      const size_t slash = path.find_last_of('/');
      final_ = to[0] == '/' || slash == std::string::npos ? to : path.substr(0, slash + 1) + to;
    }
  }
  CheckOutputName(final_);
  struct stat existing {};
  const bool exists = stat(final_.c_str(), &existing) == 0;
  if (exists && (!S_ISREG(existing.st_mode) || existing.st_nlink > 1)) return;  // into memory, then into it
  const mode_t mode = exists ? existing.st_mode & 07777 : 0666;
#ifdef O_TMPFILE
  fd_ = open(FolderOf(final_).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
#endif
  if (fd_ < 0) {
    named_ = PartName(final_);
    slot_ = WatchPartialFile(named_);
    fd_ = open(named_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd_ < 0) throw Failure("cannot write " + path + ": " + std::strerror(errno));
  }
  // An existing file keeps its mode; a new one gets the usual one.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd_, exists ? mode : mode & ~mask);
}

TemporaryFile::~TemporaryFile() {
  if (fd_ >= 0) close(fd_);
  if (!committed_ && !named_.empty()) std::remove(named_.c_str());
  ForgetPartialFile(slot_);
}

namespace {

bool WriteBytes(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n, size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

void TemporaryFile::Commit() {
  const auto fail = [&] { return Failure("cannot write " + final_ + ": " + std::strerror(errno)); };
  if (toStdout_) {
    if (!WriteBytes(STDOUT_FILENO, memory_.data(), memory_.size())) throw fail();
  } else if (inMemory()) {
    // A device, a pipe or a file with other links: written into, not replaced.
    const int out = open(final_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    const bool ok = out >= 0 && WriteBytes(out, memory_.data(), memory_.size());
    if (out >= 0) close(out);
    if (!ok) throw fail();
  } else if (!named_.empty()) {
    if (std::rename(named_.c_str(), final_.c_str()) != 0) throw fail();
  } else {
    // The nameless file gets a name beside the final one, then takes its place.
    const std::string name = PartName(final_);
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    std::remove(name.c_str());
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) != 0) throw fail();
    if (std::rename(name.c_str(), final_.c_str()) != 0) {
      std::remove(name.c_str());
      throw fail();
    }
  }
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
  sampleFormat_ = info.format & SF_FORMAT_SUBMASK;
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

int OutputSampleFormat(const std::string& path, int wanted) {
  const int usual = FormatFor(path);
  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = 2;
  info.format = (usual & SF_FORMAT_TYPEMASK) | (wanted == SF_FORMAT_DOUBLE ? SF_FORMAT_FLOAT : wanted);
  if (wanted != 0 && (usual & SF_FORMAT_SUBMASK) != SF_FORMAT_VORBIS && sf_format_check(&info))
    return info.format & SF_FORMAT_SUBMASK;
  return usual & SF_FORMAT_SUBMASK;
}

std::string SampleFormatName(int sampleFormat) {
  switch (sampleFormat) {
    case SF_FORMAT_PCM_S8: case SF_FORMAT_PCM_U8: return "8-bit";
    case SF_FORMAT_PCM_16: return "16-bit";
    case SF_FORMAT_PCM_24: return "24-bit";
    case SF_FORMAT_PCM_32: return "32-bit";
    case SF_FORMAT_FLOAT: return "32-bit float";
    case SF_FORMAT_DOUBLE: return "64-bit float";
    case SF_FORMAT_VORBIS: return "Vorbis";
    default: return "compressed";
  }
}

AudioWriter::AudioWriter(const std::string& path, int sampleRate, OutputShape shape) : output_(path) {
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = channels_ = shape.channels;
  info.format = shape.raw ? SF_FORMAT_RAW | (shape.sampleFormat ? shape.sampleFormat : SF_FORMAT_FLOAT)
                          : (FormatFor(path) & SF_FORMAT_TYPEMASK) | OutputSampleFormat(path, shape.sampleFormat);
  if (!sf_format_check(&info))
    throw Failure("cannot write " + path + " at " + std::to_string(sampleRate) + " Hz in that format");
  const int subtype = info.format & SF_FORMAT_SUBMASK;
  fixedPoint_ = subtype != SF_FORMAT_FLOAT && subtype != SF_FORMAT_DOUBLE && subtype != SF_FORMAT_VORBIS;
  if (output_.inMemory()) {
    virtual_ = {&MemoryLength, &MemorySeek, &MemoryRead, &MemoryWrite, &MemoryTell};
    file_ = sf_open_virtual(&virtual_, SFM_WRITE, &info, this);
  } else {
    file_ = sf_open_fd(output_.fd(), SFM_WRITE, &info, SF_FALSE);
  }
  if (file_ == nullptr) throw Failure("cannot write " + path + ": " + sf_strerror(nullptr));
  // Samples beyond full scale are clipped, never wrapped round, when the
  // format holds integers; and no PEAK chunk, whose time stamp would make
  // two renders of one input differ.
  sf_command(static_cast<SNDFILE*>(file_), SFC_SET_CLIPPING, nullptr, SF_TRUE);
  sf_command(static_cast<SNDFILE*>(file_), SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
}

// libsndfile's file in memory, for outputs written by Commit().
sf_count_t AudioWriter::MemoryLength(void* self) {
  return static_cast<sf_count_t>(static_cast<AudioWriter*>(self)->output_.memory().size());
}
sf_count_t AudioWriter::MemorySeek(sf_count_t offset, int whence, void* self) {
  auto* w = static_cast<AudioWriter*>(self);
  const sf_count_t base = whence == SEEK_CUR ? w->at_ : whence == SEEK_END ? MemoryLength(self) : 0;
  w->at_ = std::max<sf_count_t>(0, base + offset);
  return w->at_;
}
sf_count_t AudioWriter::MemoryRead(void* into, sf_count_t count, void* self) {
  auto* w = static_cast<AudioWriter*>(self);
  auto& bytes = w->output_.memory();
  const sf_count_t n = std::max<sf_count_t>(0, std::min<sf_count_t>(count, static_cast<sf_count_t>(bytes.size()) - w->at_));
  if (n > 0) std::memcpy(into, bytes.data() + w->at_, static_cast<size_t>(n));
  w->at_ += n;
  return n;
}
sf_count_t AudioWriter::MemoryWrite(const void* from, sf_count_t count, void* self) {
  auto* w = static_cast<AudioWriter*>(self);
  auto& bytes = w->output_.memory();
  const auto end = static_cast<size_t>(w->at_ + count);
  if (bytes.size() < end) bytes.resize(end);
  std::memcpy(bytes.data() + w->at_, from, static_cast<size_t>(count));
  w->at_ += count;
  return count;
}
sf_count_t AudioWriter::MemoryTell(void* self) { return static_cast<AudioWriter*>(self)->at_; }

// Closed before the temporary file (a member) removes what was not committed.
AudioWriter::~AudioWriter() {
  if (file_) sf_close(static_cast<SNDFILE*>(file_));
}

void AudioWriter::Write(const float* left, const float* right, size_t n) {
  interleaved_.resize(static_cast<size_t>(channels_) * n);
  for (size_t i = 0; i < n; ++i) {
    if (channels_ == 1) {
      interleaved_[i] = static_cast<float>((static_cast<double>(left[i]) + right[i]) * 0.5);
    } else {
      interleaved_[2 * i] = left[i];
      interleaved_[2 * i + 1] = right[i];
    }
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
  if (out.inMemory())
    out.memory().assign(text.begin(), text.end());
  else if (!WriteBytes(out.fd(), text.data(), text.size()))
    throw Failure("cannot write " + path + ": " + std::strerror(errno));
  out.Commit();
}

}  // namespace velmor::cli
