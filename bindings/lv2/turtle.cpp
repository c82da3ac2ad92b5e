// Writes the Turtle files of the LV2 bundle from the effects' own item
// tables: manifest.ttl and one <slug>.ttl per plug-in.
//
//   velmor-lv2-turtle BUNDLE_DIR LIBRARY_FILE_NAME
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "bindings/lv2/ports.h"
#include "bindings/lv2/uris.h"
#include "effect_handlers.h"
#include "framework/version.h"
#include "framework/utf16.h"

namespace velmor::lv2 {
namespace {

// The item tables' UTF-16 as UTF-8.
std::string Utf8(const char16_t* text) { return DecodeUtf16(text).value_or("?"); }

// A Turtle string literal.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// The shortest decimal that reads back as the same double, as a Turtle
// decimal: digits and a point, never an exponent (some hosts read only that
// form of a preset's values).
std::string Decimal(double v) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed);
  std::string s(text, result.ptr);
  if (s.find('.') == std::string::npos) s += ".0";
  return s;
}

// The LV2 class that says what kind of effect a plug-in is.
const char* PluginClass(Category category) {
  switch (category) {
    case Category::kEqualizer: return "lv2:EQPlugin";
    case Category::kDistortion: return "lv2:DistortionPlugin";
    case Category::kDelay: return "lv2:DelayPlugin";
    case Category::kPitchShifter: return "lv2:PitchPlugin";
    case Category::kFilter: return "lv2:FilterPlugin";
    case Category::kModulator:
    case Category::kTremolo: break;
  }
  return "lv2:ModulatorPlugin";
}

// The LV2 unit of a slider's number, or null.
const char* UnitUri(Unit unit) {
  switch (unit) {
    case Unit::kHz: return "units:hz";
    case Unit::kMs: return "units:ms";
    case Unit::kDb: return "units:db";
    case Unit::kSemitones: return "units:semitone12TET";
    case Unit::kPercent: return "units:pc";
    default: return nullptr;
  }
}

std::string PluginTurtle(const EffectInfo& info) {
  const std::string uri = PluginUri(info);
  std::ostringstream t;
  t << "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
       "@prefix foaf: <http://xmlns.com/foaf/0.1/> .\n"
       "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
       "@prefix pg: <http://lv2plug.in/ns/ext/port-groups#> .\n"
       "@prefix pprops: <http://lv2plug.in/ns/ext/port-props#> .\n"
       "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
       "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
       "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n\n";
  // The stereo input and output, so that hosts that pair channels through
  // port groups (GStreamer) see one stereo effect.
  t << "<" << uri << "#in>\n    a pg:StereoGroup , pg:InputGroup ;\n    lv2:symbol \"in\" ;\n"
    << "    rdfs:label \"Input\" .\n\n";
  t << "<" << uri << "#out>\n    a pg:StereoGroup , pg:OutputGroup ;\n    lv2:symbol \"out\" ;\n"
    << "    rdfs:label \"Output\" ;\n    pg:source <" << uri << "#in> .\n\n";
  // The project every plug-in belongs to, with its maintainer.
  t << "<" << kUriPrefix << "project>\n    a doap:Project ;\n    doap:name \"Velmor audio effects\" ;\n"
    << "    doap:maintainer [\n        a foaf:Person ;\n        foaf:name \"The Velmor developers\"\n    ] .\n\n";
  t << "<" << uri << ">\n"
    << "    a lv2:Plugin , " << PluginClass(info.category) << " ;\n"
    << "    lv2:project <" << kUriPrefix << "project> ;\n"
    << "    doap:name " << Quoted(info.english) << " , " << Quoted(Utf8(info.name)) << "@ja ;\n"
    << "    rdfs:comment " << Quoted(info.description) << " , " << Quoted(Utf8(info.information)) << "@ja ;\n"
    << "    doap:license <https://spdx.org/licenses/MIT> ;\n"
    << "    lv2:minorVersion " << kMinorVersion << " ;\n"
    << "    lv2:microVersion " << kMicroVersion << " ;\n"
    << "    lv2:optionalFeature lv2:hardRTCapable ;\n"
    << "    pg:mainInput <" << uri << "#in> ;\n"
    << "    pg:mainOutput <" << uri << "#out> ;\n"
    << "    lv2:port";
  for (uint32_t p = 0; p < kAudioPorts; ++p) {
    const AudioPortInfo& port = kAudioPortInfo[p];
    t << (p == 0 ? " [\n" : " , [\n")
      << "        a lv2:AudioPort , " << (port.input ? "lv2:InputPort" : "lv2:OutputPort") << " ;\n"
      << "        lv2:index " << p << " ;\n"
      << "        lv2:symbol " << Quoted(port.symbol) << " ;\n"
      << "        lv2:name " << Quoted(port.name) << " ;\n"
      << "        pg:group <" << uri << (port.input ? "#in" : "#out") << "> ;\n"
      << "        lv2:designation " << (p % 2 == 0 ? "pg:left" : "pg:right") << "\n    ]";
  }
  for (size_t k = 0; k < info.items.size(); ++k) {
    const ItemEntry& item = info.items[k];
    t << " , [\n"
      << "        a lv2:ControlPort , lv2:InputPort ;\n"
      << "        lv2:index " << ControlPort(k) << " ;\n"
      << "        lv2:symbol " << Quoted(item.symbol) << " ;\n"
      << "        lv2:name " << Quoted(item.english) << " , " << Quoted(Utf8(item.label)) << "@ja ;\n"
      << "        lv2:default " << Decimal(item.defaultValue) << " ;\n"
      << "        lv2:minimum " << Decimal(item.min) << " ;\n"
      << "        lv2:maximum " << Decimal(item.max);
    if (item.kind == ItemKind::Track) {
      t << " ;\n        pprops:rangeSteps " << std::llround((item.max - item.min) / item.step) + 1;
      if (const char* unit = UnitUri(item.unit)) t << " ;\n        units:unit " << unit;
      if (item.unit == Unit::kHz) t << " ;\n        lv2:portProperty pprops:logarithmic";
    } else {
      t << " ;\n        lv2:portProperty lv2:integer , lv2:enumeration ;\n        lv2:scalePoint";
      for (size_t o = 0; o < item.options.size(); ++o)
        t << (o == 0 ? " [\n" : " , [\n") << "            rdfs:label " << Quoted(item.options[o].english) << " , "
          << Quoted(Utf8(item.options[o].label)) << "@ja ;\n"
          << "            rdf:value " << o << "\n        ]";
    }
    t << "\n    ]";
  }
  // The bypass switch: a host's bypass button drives it. An integer 0 or 1
  // rather than lv2:toggled, since GStreamer's bridge makes a toggled port a
  // boolean property that starts false, whatever the default, and so would
  // bypass every effect it loads.
  t << " , [\n"
    << "        a lv2:ControlPort , lv2:InputPort ;\n"
    << "        lv2:index " << EnabledPort(info) << " ;\n"
    << "        lv2:symbol \"enabled\" ;\n"
    << "        lv2:name \"Enabled\" , \"有効\"@ja ;\n"
    << "        lv2:default 1 ;\n        lv2:minimum 0 ;\n        lv2:maximum 1 ;\n"
    << "        lv2:designation lv2:enabled ;\n"
    << "        lv2:portProperty lv2:integer\n    ]";
  t << " .\n";
  return t.str();
}

std::string PresetUri(const EffectInfo& info, const Preset& preset) {
  return std::string(kUriPrefix) + "preset:" + info.slug + ":" + preset.name;
}

std::string ManifestTurtle(const std::string& library) {
  std::ostringstream t;
  t << "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
       "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
       "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n";
  for (const EffectHandler* effect : kAllEffects)
    t << "\n<" << PluginUri(*effect->info) << ">\n    a lv2:Plugin ;\n    lv2:binary <" << library
      << "> ;\n    rdfs:seeAlso <" << effect->info->slug << ".ttl> .\n";
  for (const EffectHandler* effect : kAllEffects)
    for (const Preset& preset : effect->info->presets)
      t << "\n<" << PresetUri(*effect->info, preset) << ">\n    a pset:Preset ;\n    lv2:appliesTo <"
        << PluginUri(*effect->info) << "> ;\n    rdfs:seeAlso <presets.ttl> .\n";
  return t.str();
}

// The factory presets: labels in English and Japanese, values by port symbol.
std::string PresetsTurtle() {
  std::ostringstream t;
  t << "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
       "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
       "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n";
  for (const EffectHandler* effect : kAllEffects) {
    const EffectInfo& info = *effect->info;
    for (const Preset& preset : info.presets) {
      t << "\n<" << PresetUri(info, preset) << ">\n    a pset:Preset ;\n    lv2:appliesTo <" << PluginUri(info)
        << "> ;\n    rdfs:label " << Quoted(preset.english) << " , " << Quoted(preset.japanese) << "@ja ;\n    lv2:port";
      bool first = true;
      for (const PresetValue& v : preset.values) {
        t << (first ? " [\n" : " , [\n") << "        lv2:symbol " << Quoted(info.items[v.item].symbol)
          << " ;\n        pset:value " << Decimal(v.value) << "\n    ]";
        first = false;
      }
      t << " .\n";
    }
  }
  return t.str();
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  out.close();
  if (!out) std::fprintf(stderr, "velmor-lv2-turtle: cannot write %s\n", path.c_str());
  return static_cast<bool>(out);
}

}  // namespace
}  // namespace velmor::lv2

int main(int argc, char** argv) {
  using namespace velmor::lv2;
  if (argc != 3) {
    std::fprintf(stderr, "usage: velmor-lv2-turtle BUNDLE_DIR LIBRARY_FILE_NAME\n");
    return 2;
  }
  const std::string dir = argv[1];
  bool ok = WriteFile(dir + "/manifest.ttl", ManifestTurtle(argv[2]));
  for (const velmor::EffectHandler* effect : velmor::kAllEffects)
    ok = WriteFile(dir + "/" + effect->info->slug + ".ttl", PluginTurtle(*effect->info)) && ok;
  ok = WriteFile(dir + "/presets.ttl", PresetsTurtle()) && ok;
  return ok ? 0 : 1;
}
