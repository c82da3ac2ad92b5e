// What the commands share of the command line: numbers, plug-ins and the
// item settings given to them.
#include <cerrno>
#include <cmath>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include <unistd.h>

#include "effect_handlers.h"
#include "framework/utf16.h"
#include "velmor-host/cli.h"

namespace velmor::cli {

// A decimal number, as users write one: digits, a point, an exponent. Not
// C's hexadecimal ("0x10"), nor infinity or NaN, which no setting means.
double ParseNumber(const std::string& text, const std::string& what) {
  const bool decimal = !text.empty() && text.find_first_not_of("0123456789.+-eE") == std::string::npos;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  const bool whole = !text.empty() && end == text.c_str() + text.size();
  if (whole && !std::isfinite(v)) throw UsageError(what + " must be a finite number, not '" + text + "'");
  if (!decimal || !whole || errno == ERANGE) throw UsageError(what + " is not a number: '" + text + "'");
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

namespace {

// The folders a bare plug-in name is looked for in besides the current one:
// beside the tool's own install, the build's plugins/ (the tool in
// build/<preset>/bin) and <prefix>/lib/velmor (the tool in <prefix>/bin).
std::vector<std::string> PluginFolders() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return {};
  std::string bin(self, static_cast<size_t>(n));
  bin = bin.substr(0, bin.find_last_of('/'));
  const std::string root = bin.substr(0, bin.find_last_of('/'));
  return {root + "/plugins", root + "/lib/velmor"};
}

bool StartsWith(const std::string& path, const char* bytes, size_t n) {
  std::ifstream file(path, std::ios::binary);
  char head[4] = {};
  file.read(head, static_cast<std::streamsize>(n));
  return file.gcount() == static_cast<std::streamsize>(n) && std::memcmp(head, bytes, n) == 0;
}

}  // namespace

std::unique_ptr<host::Plugin> OpenPlugin(const std::string& name) {
  std::string path = name;
  if (name.find('/') == std::string::npos && access(name.c_str(), F_OK) != 0) {
    std::string tried = "the current folder";
    for (const std::string& folder : PluginFolders()) {
      if (access((folder + "/" + name).c_str(), F_OK) == 0) {
        path = folder + "/" + name;
        break;
      }
      tried += ", " + folder;
    }
    if (path == name) throw Failure("cannot open " + name + ": it is in none of " + tried);
  }
  if (access(path.c_str(), R_OK) != 0) throw Failure("cannot open " + path + ": " + std::strerror(errno));
  if (StartsWith(path, "MZ", 2))
    throw Failure(path + " is a Windows DLL; on Linux use the native build (build/default/plugins/)");
  std::string error;
  auto plugin = host::Plugin::Load(path, &error);
  if (!plugin) throw Failure(path + " is not a usable plug-in: " + error);
  return plugin;
}

// The LV2 port symbols of a plug-in's items ("cutoff"), where the plug-in
// is one of ours (its name and information line are an effect's); none
// otherwise.
std::vector<std::string> ItemSymbols(const host::Description& description) {
  for (const EffectHandler* effect : kAllEffects) {
    const EffectInfo& info = *effect->info;
    if (DecodeUtf16(info.name).value_or("") != description.name ||
        DecodeUtf16(info.information).value_or("") != description.information)
      continue;
    std::vector<std::string> symbols;
    for (const ItemEntry& item : info.items) symbols.push_back(item.symbol);
    return symbols;
  }
  return {};
}

// Text as a Japanese keyboard may type it, made comparable: full-width
// ASCII (U+FF01 to U+FF5E) becomes ASCII and the ideographic space a space,
// as NFKC does for them.
std::string FoldWidth(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(text[i + k]); };
    if (i + 2 < text.size() && b(0) == 0xEF && (b(1) == 0xBC || b(1) == 0xBD) && b(2) >= 0x80 && b(2) <= 0xBF) {
      const unsigned code = 0xFF00u + ((b(1) - 0xBCu) << 6) + (b(2) - 0x80u);
      if (code >= 0xFF01 && code <= 0xFF5E) {
        out += static_cast<char>(code - 0xFF01 + 0x21);
        i += 2;
        continue;
      }
    }
    if (i + 2 < text.size() && b(0) == 0xE3 && b(1) == 0x80 && b(2) == 0x80) {
      out += ' ';
      i += 2;
      continue;
    }
    out += text[i];
  }
  return out;
}

size_t FindItemOrFail(const host::Plugin& plugin, const std::string& name) {
  const int index = plugin.FindItem(name);
  if (index >= 0) return static_cast<size_t>(index);
  const auto& items = plugin.description().items;
  const std::vector<std::string> symbols = ItemSymbols(plugin.description());
  for (size_t k = 0; k < items.size(); ++k)
    if (FoldWidth(items[k].label) == FoldWidth(name) || (k < symbols.size() && symbols[k] == name)) return k;
  std::string labels;
  for (size_t k = 0; k < items.size(); ++k)
    labels += (labels.empty() ? "" : ", ") + items[k].label + (k < symbols.size() ? " (" + symbols[k] + ")" : "");
  throw UsageError("unknown item '" + name + "' (items: " + labels + ")");
}

double ParseItemValue(const host::ItemInfo& item, const std::string& typed) {
  const std::string value = FoldWidth(typed);  // full-width digits too
  if (item.kind != host::ItemKind::Select) return ParseNumber(value, "value for " + item.label);
  for (const auto& option : item.options)
    if (FoldWidth(option.name) == FoldWidth(value)) return option.value;
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

}  // namespace velmor::cli
