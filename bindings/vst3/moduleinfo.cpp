// Writes the bundle's Contents/Resources/moduleinfo.json, which lets a host
// list the module's classes without loading it, from the same tables and
// class ids as the module.
//
//   velmor-vst3-moduleinfo OUT.json
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "bindings/vst3/classes.h"
#include "effect_handlers.h"
#include "framework/version.h"

namespace {

using namespace velmor;
using namespace velmor::vst3;

std::string Hex(const ClassWords& c) {
  char text[40];
  std::snprintf(text, sizeof text, "%08X%08X%08X%08X", c.w[0], c.w[1], c.w[2], c.w[3]);
  return text;
}

// A JSON string: quotes and backslashes escaped, control characters as
// \u00XX; UTF-8 passes as it is.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
      out += escape;
    } else {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
  }
  return out + "\"";
}

// "Fx|EQ" as a JSON list.
std::string SubcategoryList(Category category) {
  std::string list = "\"";
  for (const char* c = Subcategory(category); *c; ++c) list += *c == '|' ? std::string("\", \"") : std::string(1, *c);
  return list + "\"";
}

void Class(std::ostringstream& j, const ClassWords& cid, const char* category, const std::string& name,
           const std::string& subcategories, bool last) {
  j << "    {\n      \"CID\": \"" << Hex(cid) << "\",\n      \"Category\": " << Quoted(category)
    << ",\n      \"Name\": " << Quoted(name) << ",\n      \"Vendor\": \"Velmor\",\n      \"Version\": \""
    << VELMOR_VERSION_ASCII << "\",\n      \"SDKVersion\": " << Quoted(kSdkVersion)
    << ",\n      \"Sub Categories\": [" << subcategories
    << "],\n      \"Class Flags\": 0,\n      \"Cardinality\": 2147483647,\n      \"Snapshots\": []\n    }"
    << (last ? "\n" : ",\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velmor-vst3-moduleinfo OUT.json\n");
    return 2;
  }
  std::ostringstream j;
  j << "{\n  \"Name\": \"velmor\",\n  \"Version\": \"" << VELMOR_VERSION_ASCII
    << "\",\n  \"Factory Info\": {\n    \"Vendor\": \"Velmor\",\n    \"URL\": \"\",\n    \"E-Mail\": \"\",\n"
       "    \"Flags\": {\n      \"Unicode\": true,\n      \"Classes Discardable\": false,\n"
       "      \"Component Non Discardable\": false\n    }\n  },\n  \"Compatibility\": [],\n  \"Classes\": [\n";
  for (size_t e = 0; e < std::size(kAllEffects); ++e) {
    const EffectInfo& info = *kAllEffects[e]->info;
    Class(j, ComponentWords(info.slug), kAudioEffectClass, info.english, SubcategoryList(info.category), false);
    Class(j, ControllerWords(info.slug), kComponentControllerClass, std::string(info.english) + " Controller", "",
          e + 1 == std::size(kAllEffects));
  }
  j << "  ]\n}\n";
  std::ofstream out(argv[1], std::ios::binary);
  out << j.str();
  out.close();
  if (!out) return std::fprintf(stderr, "velmor-vst3-moduleinfo: cannot write %s\n", argv[1]), 1;
  return 0;
}
