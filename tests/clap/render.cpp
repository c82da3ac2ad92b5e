// velmor_clap_render LIBRARY PLUGIN_ID IN.raw OUT.raw RATE BLOCK [NAME=VALUE]...
// Runs raw stereo float samples (interleaved, the machine's byte order)
// through any CLAP plug-in with our test host, in blocks of BLOCK frames,
// with each named parameter (its name, or its id as a number) set before
// the first block. With PLUGIN_ID "list", prints the library's plug-ins and
// their parameters instead. Used to hold the host to plug-ins we did not
// write.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "clap/clap_host.h"

using velmor::test::ClapEvent;
using velmor::test::ClapInstance;
using velmor::test::ClapLibrary;

namespace {

int List(const ClapLibrary& library) {
  for (const auto* d : library.Descriptors()) {
    std::printf("%s\t%s\n", d->id, d->name);
    ClapInstance instance(library, d->id);
    if (!instance.ok()) continue;
    for (const auto& p : instance.Params())
      std::printf("  %u\t%s\t%g..%g (%g)\n", p.id, p.name, p.min_value, p.max_value, p.default_value);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: velmor_clap_render LIBRARY PLUGIN_ID IN.raw OUT.raw RATE BLOCK [NAME=VALUE]...\n");
    return 2;
  }
  std::string error;
  auto library = ClapLibrary::Load(argv[1], &error);
  if (!library) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
  if (std::string(argv[2]) == "list") return List(*library);
  if (argc < 7) return std::fprintf(stderr, "missing arguments\n"), 2;
  ClapInstance instance(*library, argv[2]);
  if (!instance.ok()) return std::fprintf(stderr, "no plug-in %s\n", argv[2]), 1;
  std::vector<ClapEvent> settings;
  const auto params = instance.Params();
  for (int a = 7; a < argc; ++a) {
    const std::string setting = argv[a];
    const size_t eq = setting.find('=');
    const std::string name = setting.substr(0, eq);
    const double value = std::strtod(setting.c_str() + eq + 1, nullptr);
    bool found = false;
    for (const auto& p : params)
      if (name == p.name || name == std::to_string(p.id)) settings.push_back({0, p.id, value}), found = true;
    if (!found) return std::fprintf(stderr, "no parameter %s\n", name.c_str()), 1;
  }
  std::ifstream in(argv[3], std::ios::binary);
  in.seekg(0, std::ios::end);
  const size_t bytes = static_cast<size_t>(in.tellg());
  in.seekg(0);
  std::vector<float> samples(bytes / sizeof(float));
  in.read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(samples.size() * sizeof(float)));
  const size_t frames = samples.size() / 2;
  const double rate = std::strtod(argv[5], nullptr);
  const auto block = static_cast<size_t>(std::strtoul(argv[6], nullptr, 10));
  if (block == 0 || !instance.Activate(rate, static_cast<uint32_t>(block)))
    return std::fprintf(stderr, "cannot activate at %g Hz\n", rate), 1;
  std::vector<float> left(frames), right(frames), outL(frames), outR(frames);
  for (size_t i = 0; i < frames; ++i) left[i] = samples[2 * i], right[i] = samples[2 * i + 1];
  for (size_t start = 0; start < frames; start += block) {
    const auto n = static_cast<uint32_t>(std::min(block, frames - start));
    instance.Process(&left[start], &right[start], &outL[start], &outR[start], n, start == 0 ? settings : std::vector<ClapEvent>{});
  }
  for (size_t i = 0; i < frames; ++i) samples[2 * i] = outL[i], samples[2 * i + 1] = outR[i];
  std::ofstream out(argv[4], std::ios::binary);
  out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size() * sizeof(float)));
  return out ? 0 : 1;
}
