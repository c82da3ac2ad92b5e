// What the commands share of the command line: numbers, plug-ins and the
// item settings given to them.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "velmor-host/cli.h"

namespace velmor::cli {

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

}  // namespace velmor::cli
