// Writes the Windows version resource of every plug-in from its effect's own
// table: the effect's information line is the file description.
//
//   velmor-version-resources IN_DIR OUT_DIR
//
// reads IN_DIR/<slug>.rc.in (the resource with everything but the
// description filled in) and writes OUT_DIR/<slug>.rc, with %DESCRIPTION%
// replaced by the information line in UTF-8.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "effect_handlers.h"
#include "framework/utf16.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: velmor-version-resources IN_DIR OUT_DIR\n");
    return 2;
  }
  for (const velmor::EffectHandler* effect : velmor::kAllEffects) {
    const std::string slug = effect->info->slug;
    std::ifstream in(std::string(argv[1]) + "/" + slug + ".rc.in", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string rc = text.str();
    const std::string placeholder = "%DESCRIPTION%";
    const auto at = rc.find(placeholder);
    const auto description = velmor::DecodeUtf16(effect->info->information);
    if (!in || at == std::string::npos || !description) {
      std::fprintf(stderr, "velmor-version-resources: cannot make %s.rc\n", slug.c_str());
      return 1;
    }
    rc.replace(at, placeholder.size(), *description);
    std::ofstream out(std::string(argv[2]) + "/" + slug + ".rc", std::ios::binary);
    out << rc;
    if (!out.flush()) {
      std::fprintf(stderr, "velmor-version-resources: cannot write %s.rc\n", slug.c_str());
      return 1;
    }
  }
  return 0;
}
