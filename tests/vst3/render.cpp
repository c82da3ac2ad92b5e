// velmor_vst3_render MODULE IN.raw OUT.raw RATE BLOCK [TITLE=VALUE]...
// Runs raw stereo float samples (interleaved, the machine's byte order)
// through the first audio component of any VST 3 module with our test host,
// in blocks of BLOCK frames, each named parameter (its title, or its id as a
// number) set to its plain value at the first block's start. With IN.raw
// "list", prints the module's classes and the first component's parameters.
// Used to hold the host to plug-ins we did not write.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "vst3/vst3_host.h"

using velmor::test::Vst3Instance;
using velmor::test::Vst3Module;
using velmor::test::Vst3Point;
namespace vst3 = velmor::vst3;

namespace {

std::string Ascii(const vst3::char16* text) {
  std::string out;
  for (int i = 0; i < 128 && text[i] != 0; ++i) out += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: velmor_vst3_render MODULE IN.raw OUT.raw RATE BLOCK [TITLE=VALUE]...\n");
    return 2;
  }
  std::string error;
  auto module = Vst3Module::Load(argv[1], &error);
  if (!module) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
  const vst3::PClassInfo2* component = nullptr;
  const auto classes = module->Classes();
  for (const auto& c : classes)
    if (component == nullptr && std::string(c.category) == vst3::kAudioEffectClass) component = &c;
  if (component == nullptr) return std::fprintf(stderr, "no audio component\n"), 1;
  Vst3Instance instance(*module, component->cid);
  if (!instance.ok()) return std::fprintf(stderr, "cannot make %s\n", component->name), 1;
  std::vector<std::pair<std::string, vst3::ParamID>> params;
  for (int32_t i = 0; i < instance.controller().getParameterCount(); ++i) {
    vst3::ParameterInfo info{};
    if (instance.controller().getParameterInfo(i, info) == vst3::kResultOk) params.emplace_back(Ascii(info.title), info.id);
  }
  if (std::string(argv[2]) == "list") {
    for (const auto& c : classes) std::printf("%s\t%s\t%s\n", c.category, c.name, c.subCategories);
    for (const auto& [title, id] : params) std::printf("  %u\t%s\n", id, title.c_str());
    return 0;
  }
  if (argc < 6) return std::fprintf(stderr, "missing arguments\n"), 2;
  std::vector<Vst3Point> settings;
  for (int a = 6; a < argc; ++a) {
    const std::string setting = argv[a];
    const size_t eq = setting.find('=');
    const std::string name = setting.substr(0, eq);
    bool found = false;
    for (const auto& [title, id] : params)
      if (name == title || name == std::to_string(id)) {
        settings.push_back({0, id, std::strtod(setting.c_str() + eq + 1, nullptr)});
        found = true;
      }
    if (!found) return std::fprintf(stderr, "no parameter %s\n", name.c_str()), 1;
  }
  std::ifstream in(argv[2], std::ios::binary);
  in.seekg(0, std::ios::end);
  std::vector<float> samples(static_cast<size_t>(in.tellg()) / sizeof(float));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(samples.size() * sizeof(float)));
  const size_t frames = samples.size() / 2;
  const double rate = std::strtod(argv[4], nullptr);
  const auto block = static_cast<size_t>(std::strtoul(argv[5], nullptr, 10));
  if (block == 0 || !instance.Activate(rate, static_cast<int32_t>(block)))
    return std::fprintf(stderr, "cannot activate at %g Hz\n", rate), 1;
  std::vector<float> left(frames), right(frames), outL(frames), outR(frames);
  for (size_t i = 0; i < frames; ++i) left[i] = samples[2 * i], right[i] = samples[2 * i + 1];
  for (size_t start = 0; start < frames; start += block) {
    const auto n = static_cast<int32_t>(std::min(block, frames - start));
    instance.Process(&left[start], &right[start], &outL[start], &outR[start], n,
                     start == 0 ? settings : std::vector<Vst3Point>{});
  }
  for (size_t i = 0; i < frames; ++i) samples[2 * i] = outL[i], samples[2 * i + 1] = outR[i];
  std::ofstream out(argv[3], std::ios::binary);
  out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size() * sizeof(float)));
  return out ? 0 : 1;
}
