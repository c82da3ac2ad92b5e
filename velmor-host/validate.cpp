// velmor-host validate: checks AviUtl2 audio filter plug-ins the way a host
// would stress them. Each plug-in runs in a child process, so that a crash is
// reported in the table instead of ending the validator, and every check has
// a time limit, so that a plug-in that hangs is reported too.
#include <elf.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "host/allocation_counter.h"
#include "host/child_process.h"
#include "velmor-host/cli.h"

namespace velmor::cli {
namespace {

const int kRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 88200, 96000, 176400, 192000};
const int kBlockSizes[] = {0, 1, 2, 63, 441, 1470, 4096, 48000};
const char* const kEntryPoints[] = {"GetFilterPluginTable", "InitializePlugin", "UninitializePlugin"};

// Messages from the child: "BEGIN check", "PASS check detail", "FAIL check detail".
class Reporter {
 public:
  explicit Reporter(int fd) : fd_(fd) {}
  void Begin(const std::string& check) { Send("BEGIN " + check + "\n"); }
  void Result(const std::string& check, bool ok, const std::string& detail) {
    Send((ok ? "PASS " : "FAIL ") + check + " " + detail + "\n");
  }

 private:
  void Send(const std::string& line) {
    size_t done = 0;
    while (done < line.size()) {
      const ssize_t n = write(fd_, line.data() + done, line.size() - done);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }
  int fd_;
};

// Names of the defined symbols in an ELF file's dynamic symbol table.
bool DynamicSymbols(const std::string& path, std::set<std::string>* names, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (f.size() < sizeof(Elf64_Ehdr) || std::memcmp(f.data(), ELFMAG, SELFMAG) != 0 || f[EI_CLASS] != ELFCLASS64) {
    *error = "not a 64-bit ELF file";
    return false;
  }
  Elf64_Ehdr eh;
  std::memcpy(&eh, f.data(), sizeof eh);
  auto section = [&](size_t i, Elf64_Shdr* sh) {
    const size_t at = eh.e_shoff + i * eh.e_shentsize;
    if (at + sizeof(Elf64_Shdr) > f.size()) return false;
    std::memcpy(sh, f.data() + at, sizeof *sh);
    return true;
  };
  for (size_t i = 0; i < eh.e_shnum; ++i) {
    Elf64_Shdr sh, strings;
    if (!section(i, &sh)) break;
    if (sh.sh_type != SHT_DYNSYM || !section(sh.sh_link, &strings)) continue;
    for (size_t off = sh.sh_offset + sizeof(Elf64_Sym); off + sizeof(Elf64_Sym) <= sh.sh_offset + sh.sh_size;
         off += sizeof(Elf64_Sym)) {
      Elf64_Sym sym;
      if (off + sizeof sym > f.size()) break;
      std::memcpy(&sym, f.data() + off, sizeof sym);
      // Section symbols (aarch64 linkers put some in the dynamic table)
      // are not exports.
      if (sym.st_shndx == SHN_UNDEF || ELF64_ST_TYPE(sym.st_info) == STT_SECTION || sym.st_name == 0 ||
          sym.st_name >= strings.sh_size)
        continue;
      const char* name = f.data() + strings.sh_offset + sym.st_name;
      names->insert(std::string(name, strnlen(name, strings.sh_size - sym.st_name)));
    }
    return true;
  }
  *error = "no dynamic symbol table";
  return false;
}

void CheckExports(const std::string& path, Reporter& report) {
  report.Begin("exports");
  std::set<std::string> names;
  std::string error;
  if (!DynamicSymbols(path, &names, &error)) return report.Result("exports", false, error);
  std::string extra, missing;
  for (const auto& n : names)
    if (std::find(std::begin(kEntryPoints), std::end(kEntryPoints), n) == std::end(kEntryPoints)) extra += " " + n;
  for (const char* n : kEntryPoints)
    if (!names.count(n)) missing += std::string(" ") + n;
  if (!missing.empty()) return report.Result("exports", false, "missing:" + missing);
  if (!extra.empty()) return report.Result("exports", false, std::to_string(names.size() - 3) + " more symbols:" + extra.substr(0, 200));
  report.Result("exports", true, "exactly the three entry points");
}

std::unique_ptr<host::Plugin> CheckDescriptor(const std::string& path, Reporter& report) {
  report.Begin("load");
  std::string error;
  auto plugin = host::Plugin::Load(path, &error, [&](const char* step) { report.Begin(step); });
  report.Begin("descriptor");
  if (!plugin) {
    report.Result("descriptor", false, error);
    return nullptr;
  }
  std::vector<std::string> problems;
  const host::Description& d = plugin->description();
  using TableFn = FilterPluginTable* (*)();
  auto table = reinterpret_cast<TableFn>(plugin->Symbol("GetFilterPluginTable"));
  if (table() != table()) problems.push_back("GetFilterPluginTable returns different addresses");
  if (d.name.empty()) problems.push_back("empty name");
  if (plugin->table()->process_audio == nullptr) problems.push_back("no audio callback");
  for (const auto& item : d.items) {
    const std::string at = "item '" + item.label + "': ";
    if (item.label.empty()) problems.push_back("an item has no label");
    if (item.kind == host::ItemKind::Unknown) problems.push_back(at + "unknown type '" + item.type + "'");
    if (item.kind == host::ItemKind::Track) {
      if (!(item.min <= item.max)) problems.push_back(at + "min above max");
      if (!(item.step > 0)) problems.push_back(at + "step not above 0");
      if (!(item.defaultValue >= item.min && item.defaultValue <= item.max)) problems.push_back(at + "default outside its range");
    }
    if (item.kind == host::ItemKind::Select) {
      if (item.options.empty()) problems.push_back(at + "no options");
      bool defaultFound = false;
      for (size_t k = 0; k < item.options.size(); ++k) {
        if (item.options[k].value != static_cast<int32_t>(k)) problems.push_back(at + "option values are not 0 to n-1");
        if (item.options[k].value == item.defaultValue) defaultFound = true;
        if (item.options[k].name.empty()) problems.push_back(at + "an option has no text");
      }
      const auto* select = static_cast<const SelectItem*>(item.record);
      if (select->options[item.options.size()].value != 0) problems.push_back(at + "option list ends with a non-zero value");
      if (!defaultFound) problems.push_back(at + "default is not an option value");
    }
  }
  if (problems.empty()) {
    report.Result("descriptor", true, std::to_string(d.items.size()) + (d.items.size() == 1 ? " item" : " items"));
  } else {
    std::string all;
    for (const auto& p : problems) all += (all.empty() ? "" : "; ") + p;
    report.Result("descriptor", false, all);
  }
  return plugin;
}

struct Generator {
  uint64_t state;
  double Uniform() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(state >> 11) / 9007199254740992.0;
  }
};

void SetParameters(host::Plugin& plugin, const std::string& set, Generator& g) {
  const auto& items = plugin.description().items;
  for (size_t i = 0; i < items.size(); ++i) {
    const auto& item = items[i];
    if (item.kind == host::ItemKind::Select) {
      const size_t n = item.options.size();
      const size_t k = set == "minimum" ? 0 : set == "maximum" ? n - 1
                     : set == "default" ? static_cast<size_t>(item.defaultValue)
                                        : static_cast<size_t>(g.Uniform() * n);
      plugin.SetValue(i, n ? item.options[std::min(k, n - 1)].value : 0);
    } else if (item.kind == host::ItemKind::Track) {
      const double v = set == "minimum" ? item.min : set == "maximum" ? item.max
                     : set == "default" ? item.defaultValue
                                        : item.min + g.Uniform() * (item.max - item.min);
      plugin.SetValue(i, v);
    }
  }
}

void CheckProcessing(host::Plugin& plugin, Reporter& report) {
  std::map<std::string, std::string> failures;  // category -> first failure
  auto fail = [&](const std::string& category, const std::string& detail) { failures.emplace(category, detail); };
  Generator g{0x5EED};
  size_t blocks = 0;
  const char* sets[] = {"minimum", "maximum", "default", "random", "random"};
  for (int rate : kRates) {
    report.Begin("processing at " + std::to_string(rate) + " Hz");
    for (const char* set : sets) {
      SetParameters(plugin, set, g);
      const int64_t ids[2] = {static_cast<int64_t>(g.Uniform() * 1e15), -static_cast<int64_t>(g.Uniform() * 1e15) - 1};
      // Frames run on, then jump back and forward: 0 1 2 ... 7, 3, 20, 21.
      const int32_t frames[] = {0, 1, 2, 3, 4, 5, 6, 7, 3, 20, 21};
      for (size_t step = 0; step < std::size(frames); ++step) {
        for (int o = 0; o < 2; ++o) {
          const int size = kBlockSizes[(step + static_cast<size_t>(o) * 3) % std::size(kBlockSizes)];
          std::vector<float> left(static_cast<size_t>(size)), right(left.size());
          float inputPeak = 0;
          for (size_t i = 0; i < left.size(); ++i) {
            left[i] = static_cast<float>(g.Uniform() - 0.5);
            right[i] = i % 300 == 0 ? 0.5f : static_cast<float>(0.4 * std::sin(0.05 * static_cast<double>(i)));
            inputPeak = std::max({inputPeak, std::fabs(left[i]), std::fabs(right[i])});
          }
          host::BlockRequest request;
          request.id = ids[o];
          request.frame = frames[step];
          request.sampleRate = rate;
          const auto result = plugin.Process(left, right, request);
          ++blocks;
          const std::string where = std::string(set) + " parameters at " + std::to_string(rate) + " Hz, block of " +
                                    std::to_string(size) + ", frame " + std::to_string(frames[step]);
          if (!result.result) fail("result", "returned false: " + where);
          const bool order = result.calls.size() == 4 && result.calls[0].kind == host::HostCall::Read &&
                             result.calls[0].channel == 0 && result.calls[1].kind == host::HostCall::Read &&
                             result.calls[1].channel == 1 && result.calls[2].kind == host::HostCall::Write &&
                             result.calls[2].channel == 0 && result.calls[3].kind == host::HostCall::Write &&
                             result.calls[3].channel == 1;
          if (!order) fail("call order", "not read 0, read 1, write 0, write 1: " + where);
          float peak = 0;
          bool finite = true;
          for (size_t i = 0; i < left.size(); ++i) {
            finite = finite && std::isfinite(left[i]) && std::isfinite(right[i]);
            peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
          }
          if (!finite) fail("finite output", "NaN or infinity: " + where);
          if (finite && inputPeak > 0 && peak > 100 * inputPeak)
            fail("bounded output", "peak " + std::to_string(peak) + " from input peak " + std::to_string(inputPeak) + ": " + where);
        }
      }
    }
  }
  for (const char* category : {"result", "call order", "finite output", "bounded output"}) {
    auto f = failures.find(category);
    if (f == failures.end())
      report.Result(category, true, std::to_string(blocks) + " blocks");
    else
      report.Result(category, false, f->second);
  }
}

// An audio callback should not call the allocator once its object exists and
// the block is no longer than one it has seen: each object gets its first
// blocks at the largest size, then blocks up to that size are counted.
void CheckAllocation(host::Plugin& plugin, Reporter& report) {
  report.Begin("allocation");
  if (!host::AllocationCounter::Available())
    return report.Result("allocation", true, "not counted: this build cannot count the allocator");
  Generator g{0xA110C};
  const int sizes[] = {4096, 1470, 441, 63, 1, 0, 2048};
  size_t blocks = 0, calls = 0;
  std::string first;
  const char* sets[] = {"default", "minimum", "maximum", "random"};
  int64_t id = 0x7A110C;
  for (int rate : {44100, 48000, 8000, 96000}) {
    for (const char* set : sets) {
      SetParameters(plugin, set, g);
      std::vector<float> left(4096), right(4096);
      host::BlockRequest request;
      request.id = ++id;
      request.sampleRate = rate;
      for (int frame = 0; frame < 24; ++frame) {
        const int size = frame < 2 ? 4096 : sizes[static_cast<size_t>(frame) % std::size(sizes)];
        for (int i = 0; i < size; ++i) left[static_cast<size_t>(i)] = right[static_cast<size_t>(i)] = static_cast<float>(g.Uniform() - 0.5);
        request.frame = frame;
        host::BlockResult kept;  // freed after the count: the host's own memory
        size_t n = 0;
        {
          host::AllocationCounter counter;
          kept = plugin.Process(left.data(), right.data(), size, request);
          n = counter.calls();
        }
        if (frame >= 2) {
          ++blocks;
          calls += n;
          if (n != 0 && first.empty())
            first = std::to_string(n) + " allocator calls in a block of " + std::to_string(size) + " at " +
                    std::to_string(rate) + " Hz, " + set + " parameters";
        }
      }
    }
  }
  if (calls == 0)
    report.Result("allocation", true, "no allocator call in " + std::to_string(blocks) + " blocks of existing objects");
  else
    report.Result("allocation", false, std::to_string(calls) + " allocator calls in " + std::to_string(blocks) +
                                           " blocks of existing objects; first: " + first);
}

void ValidateInChild(const std::string& path, int fd) {
  Reporter report(fd);
  CheckExports(path, report);
  auto plugin = CheckDescriptor(path, report);
  if (!plugin) return;
  CheckProcessing(*plugin, report);
  CheckAllocation(*plugin, report);
}

struct Row {
  std::string plugin, check, result, detail;
};

// What a child's report said, and which check was running when it stopped.
struct ChildReport {
  std::string text, running = "start";
  bool timedOut = false;
};

// Reads the child's report until it closes its end or a check overruns:
// each check has `timeout` seconds from its BEGIN line.
ChildReport ReadReport(int fd, double timeout) {
  ChildReport report;
  size_t parsed = 0;
  using Clock = std::chrono::steady_clock;
  const auto limit = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout));
  auto deadline = Clock::now() + limit;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      report.timedOut = true;
      return report;
    }
    pollfd pfd{fd, POLLIN, 0};
    const int ready = poll(&pfd, 1, static_cast<int>(std::min<int64_t>(left, 1000)));
    if (ready < 0 && errno != EINTR) return report;
    if (ready <= 0) continue;
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return report;
    report.text.append(buffer, static_cast<size_t>(n));
    // A new check starts its own time.
    for (size_t end; (end = report.text.find('\n', parsed)) != std::string::npos; parsed = end + 1) {
      const std::string line = report.text.substr(parsed, end - parsed);
      if (line.rfind("BEGIN ", 0) == 0) report.running = line.substr(6), deadline = Clock::now() + limit;
    }
  }
}

// The rows of a report's PASS and FAIL lines; false when one failed.
bool ReportRows(const std::string& shown, const std::string& text, std::vector<Row>& rows) {
  bool ok = true;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string kind, check;
    words >> kind;
    if (kind == "BEGIN") continue;
    std::string rest;
    std::getline(words >> std::ws, rest);
    // The check name is one of the known ones, possibly two words.
    for (const char* name : {"call order", "finite output", "bounded output", "exports", "descriptor", "result",
                             "allocation"}) {
      if (rest.rfind(name, 0) == 0) {
        check = name;
        rest = rest.substr(check.size());
        break;
      }
    }
    if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    rows.push_back({shown, check, kind == "PASS" ? "pass" : "FAIL", rest});
    if (kind != "PASS") ok = false;
  }
  return ok;
}

// One plug-in checked in a child process of its own; false when a check
// failed, timed out or the child died.
bool ValidateOne(const std::string& path, double timeout, std::vector<Row>& rows) {
  const std::string shown = path.substr(path.find_last_of('/') + 1);
  if (access(path.c_str(), R_OK) != 0) {
    rows.push_back({shown, "load", "FAIL", std::string("cannot open: ") + std::strerror(errno)});
    return false;
  }
  struct stat info {};
  if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    rows.push_back({shown, "load", "FAIL", "it is a folder, not a plug-in"});
    return false;
  }
  int fds[2];
  if (pipe(fds) != 0) throw Failure("cannot create a pipe");
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) throw Failure("cannot fork");
  if (child == 0) {
    close(fds[0]);
    ValidateInChild(path, fds[1]);
    host::ExitChild(0);
  }
  close(fds[1]);
  const ChildReport report = ReadReport(fds[0], timeout);
  if (report.timedOut) kill(child, SIGKILL);
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  bool ok = ReportRows(shown, report.text, rows);
  if (report.timedOut) {
    char detail[96];
    std::snprintf(detail, sizeof detail, "no answer within %g s: killed", timeout);
    rows.push_back({shown, report.running, "TIMEOUT", detail});
    ok = false;
  } else if (WIFSIGNALED(status)) {
    rows.push_back({shown, report.running, "CRASH",
                    std::string("killed by signal ") + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")"});
    ok = false;
  } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    rows.push_back({shown, "process", "FAIL", "exited with status " + std::to_string(WEXITSTATUS(status))});
    ok = false;
  }
  return ok;
}

void PrintRows(const std::vector<Row>& rows) {
  size_t w0 = 6, w1 = 5, w2 = 6;
  for (const Row& r : rows)
    w0 = std::max(w0, r.plugin.size()), w1 = std::max(w1, r.check.size()), w2 = std::max(w2, r.result.size());
  auto print = [&](const std::string& a, const std::string& b, const std::string& c, const std::string& d) {
    std::printf("%-*s  %-*s  %-*s  %s\n", static_cast<int>(w0), a.c_str(), static_cast<int>(w1), b.c_str(),
                static_cast<int>(w2), c.c_str(), d.c_str());
  };
  print("plugin", "check", "result", "detail");
  for (const Row& r : rows) print(r.plugin, r.check, r.result, r.detail);
}

}  // namespace

// The slowest check of our seven takes well under a second on a build
// machine; the default limit leaves a wide margin for slow and loaded ones.
constexpr double kDefaultTimeout = 30.0;

int Validate(Arguments& args, const char*) {
  std::vector<std::string> paths;
  double timeout = kDefaultTimeout;
  while (!args.Empty()) {
    const std::string word = args.Next("PLUGIN");
    if (word == "--timeout") {
      timeout = ParseNumber(args.Next("SECONDS after --timeout"), "--timeout");
      if (!(timeout > 0) || timeout > 86400) throw UsageError("--timeout must be above 0 and at most 86400 seconds");
    } else if (word.rfind("--", 0) == 0) {
      throw UsageError("unknown option " + word);
    } else {
      paths.push_back(word);
    }
  }
  if (paths.empty()) throw UsageError("validate takes one or more PLUGIN files");
  std::vector<Row> rows;
  bool ok = true;
  for (const std::string& path : paths) ok = ValidateOne(path, timeout, rows) && ok;
  PrintRows(rows);
  std::printf("%s\n", ok ? "all checks passed" : "validation FAILED");
  return ok ? 0 : 1;
}

}  // namespace velmor::cli
