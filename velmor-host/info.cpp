// velmor-host info: a plug-in's descriptor and items, as text or as an HTML
// fragment for the manual.
#include <cstdio>

#include "velmor-host/cli.h"

namespace velmor::cli {
namespace {

const char* KindName(host::ItemKind kind) {
  switch (kind) {
    case host::ItemKind::Track: return "track";
    case host::ItemKind::Select: return "select";
    default: return "unknown";
  }
}

}  // namespace

namespace {

// The words of the table, in Japanese or English; the items' own labels are
// the plug-in's, as the editor shows them.
struct HtmlWords {
  const char* header;
  const char* slider;
  const char* list;
  const char* to;
};
constexpr HtmlWords kJapanese{"<th>項目</th><th>種類</th><th>範囲</th><th>初期値</th><th>刻み</th><th>選択肢</th>",
                              "トラックバー", "リスト", "〜"};
constexpr HtmlWords kEnglish{"<th>Item</th><th>Kind</th><th>Range</th><th>Default</th><th>Step</th><th>Options</th>",
                             "slider", "list", "to"};

// The descriptor as an HTML fragment: the name, the information line and a
// table of the items.
void PrintHtml(const host::Description& d, const std::string& file, const HtmlWords& words) {
  std::printf("<h2>%s <small>(%s)</small></h2>\n", XmlEscape(d.name).c_str(), XmlEscape(file).c_str());
  std::printf("<p class=\"information\">%s</p>\n", XmlEscape(d.information).c_str());
  std::printf("<table class=\"items\">\n<thead><tr>%s</tr></thead>\n<tbody>\n", words.header);
  for (const host::ItemInfo& item : d.items) {
    std::printf("<tr><th scope=\"row\">%s</th>", XmlEscape(item.label).c_str());
    if (item.kind == host::ItemKind::Track) {
      std::printf("<td>%s</td><td>%g %s %g</td><td>%g</td><td>%g</td><td></td></tr>\n", words.slider, item.min,
                  words.to, item.max, item.defaultValue, item.step);
    } else {
      std::string options, initial;
      for (const auto& option : item.options) {
        options += (options.empty() ? "" : "<br>") + std::to_string(option.value) + ": " + XmlEscape(option.name);
        if (option.value == item.defaultValue) initial = XmlEscape(option.name);
      }
      std::printf("<td>%s</td><td></td><td>%s</td><td></td><td>%s</td></tr>\n", words.list,
                  initial.empty() ? std::to_string(static_cast<int64_t>(item.defaultValue)).c_str() : initial.c_str(),
                  options.c_str());
    }
  }
  std::printf("</tbody>\n</table>\n");
}

}  // namespace

int Info(Arguments& args) {
  std::string path;
  bool html = false, english = false;
  while (!args.Empty()) {
    const std::string word = args.Next("PLUGIN");
    if (word == "--html") html = true;
    else if (word == "--english") english = true;
    else if (word.rfind("--", 0) == 0) throw UsageError("unknown option " + word);
    else if (path.empty()) path = word;
    else throw UsageError("info takes one PLUGIN");
  }
  if (path.empty()) throw UsageError("missing PLUGIN");
  auto plugin = OpenPlugin(path);
  const host::Description& d = plugin->description();
  if (html) {
    PrintHtml(d, path.substr(path.find_last_of("/\\") + 1), english ? kEnglish : kJapanese);
    return 0;
  }
  std::printf("name:        %s\nlabel:       %s\ninformation: %s\nflags:       %d\nitems:\n", d.name.c_str(),
              d.label.c_str(), d.information.c_str(), d.flags);
  for (size_t i = 0; i < d.items.size(); ++i) {
    const host::ItemInfo& item = d.items[i];
    std::printf("  %zu. %-6s %s  default %g", i + 1, KindName(item.kind), item.label.c_str(), item.defaultValue);
    if (item.kind == host::ItemKind::Track)
      std::printf("  range %g to %g  step %g\n", item.min, item.max, item.step);
    else
      std::printf("\n");
    for (const auto& option : item.options) std::printf("       %d = %s\n", option.value, option.name.c_str());
  }
  return 0;
}

}  // namespace velmor::cli
