// velmor.vst3 through our VST 3 host (tests/vst3/vst3_host.h) against the
// AviUtl2 plug-ins: every process call split at its parameter points gives,
// bit for bit, what the .auf2 gives for the same pieces as consecutive
// blocks; classes, ids, parameters, buses, latency and tails are pinned;
// normalized values come back exactly at every option and slider step; the
// bypass fades; zero-frame calls and missing buffers take the points; the
// state survives a reload and a damaged one changes nothing; process() does
// not allocate.
#include <algorithm>
#include <cmath>
#include <map>
#include <random>

#include "bindings/vst3/vst3_abi.h"
#include "host/allocation_counter.h"
#include "plugin_test.h"
#include "vst3/vst3_host.h"

namespace velmor::test {
namespace {

using namespace velmor::vst3;

const Vst3Module& Module() {
  static std::unique_ptr<Vst3Module> module = [] {
    std::string error;
    auto loaded = Vst3Module::Load(kVst3Module, &error);
    EXPECT_NE(loaded, nullptr) << error;
    return loaded;
  }();
  return *module;
}

// Each effect's component class id, as moduleinfo.json writes it: pinned,
// since hosts and saved sessions refer to them.
const std::map<std::string, std::string> kComponentIds = {
    {"equalizer", "56656C6D6F7246782C5A7CEF13C439FE"},
    {"modulator", "56656C6D6F724678B8BCCBA62CD4BB0F"},
    {"distortion", "56656C6D6F724678BC5EFEAA33CED6ED"},
    {"delay", "56656C6D6F7246784ED1F1D82E26ED5D"},
    {"pitch_shifter", "56656C6D6F724678247D1005191D66CC"},
    {"tremolo", "56656C6D6F7246789D64FCC3A26DFBC6"},
    {"filter", "56656C6D6F724678C7E1687782CABAD4"},
};
const std::map<std::string, std::string> kSubcategories = {
    {"equalizer", "Fx|EQ"},          {"modulator", "Fx|Modulation"}, {"distortion", "Fx|Distortion"},
    {"delay", "Fx|Delay"},           {"pitch_shifter", "Fx|Pitch Shift"}, {"tremolo", "Fx|Modulation"},
    {"filter", "Fx|Filter"},
};

// The platform's bytes of a class id written as 32 hex digits.
std::string IdBytes(const std::string& hex) {
  uint32_t w[4];
  for (int i = 0; i < 4; ++i) w[i] = static_cast<uint32_t>(std::stoul(hex.substr(8 * i, 8), nullptr, 16));
  const Uid u = MakeUid(w[0], w[1], w[2], w[3]);
  return std::string(u.bytes, 16);
}

TEST(Vst3Module, ListsEachEffectsComponentAndController) {
  const auto classes = Module().Classes();
  ASSERT_EQ(classes.size(), 2 * std::size(kPluginNames));
  for (size_t p = 0; p < std::size(kPluginNames); ++p) {
    const std::string slug = kPluginSlugs[p];
    const PClassInfo2& component = classes[2 * p];
    const PClassInfo2& controller = classes[2 * p + 1];
    EXPECT_EQ(std::string(component.cid, 16), IdBytes(kComponentIds.at(slug))) << slug;
    EXPECT_STREQ(component.category, "Audio Module Class");
    EXPECT_STREQ(controller.category, "Component Controller Class");
    EXPECT_EQ(std::string(component.subCategories), kSubcategories.at(slug));
    EXPECT_STREQ(component.vendor, "Velmor");
    EXPECT_EQ(std::string(component.name).rfind("Velmor ", 0), 0u);
    Vst3Instance instance(Module(), component.cid);
    ASSERT_TRUE(instance.ok()) << slug;
    TUID named;
    ASSERT_EQ(instance.component().getControllerClassId(named), kResultOk);
    EXPECT_EQ(std::string(named, 16), std::string(controller.cid, 16));
  }
}

class Vst3 : public ::testing::TestWithParam<size_t> {
 protected:
  void SetUp() override {
    reference_ = LoadPlugin(kPluginNames[GetParam()]);
    ASSERT_TRUE(reference_);
    instance_ = Make();
    ASSERT_TRUE(instance_->ok());
  }
  std::unique_ptr<Vst3Instance> Make() const {
    const std::string cid = IdBytes(kComponentIds.at(kPluginSlugs[GetParam()]));
    return std::make_unique<Vst3Instance>(Module(), cid.data());
  }
  const std::vector<host::ItemInfo>& items() const { return reference_->description().items; }
  IEditController& controller() const { return instance_->controller(); }
  // A value in range as the plug-in takes it from a host: normalized and back.
  double Random(size_t k, std::mt19937& rng) const {
    const host::ItemInfo& item = items()[k];
    const double plain = item.kind == host::ItemKind::Select ? static_cast<double>(rng() % item.options.size())
                                                             : std::uniform_real_distribution<double>(item.min, item.max)(rng);
    return controller().normalizedParamToPlain(static_cast<ParamID>(k), controller().plainParamToNormalized(static_cast<ParamID>(k), plain));
  }

  std::unique_ptr<host::Plugin> reference_;
  std::unique_ptr<Vst3Instance> instance_;
};

TEST_P(Vst3, ParametersAreTheItemsAndComeBackExactlyAtEveryStep) {
  ASSERT_EQ(controller().getParameterCount(), static_cast<int32>(items().size() + 1));
  for (size_t k = 0; k < items().size(); ++k) {
    const host::ItemInfo& item = items()[k];
    ParameterInfo info{};
    ASSERT_EQ(controller().getParameterInfo(static_cast<int32>(k), info), kResultOk);
    EXPECT_EQ(info.id, k);
    EXPECT_NE(info.title[0], 0);
    EXPECT_TRUE(info.flags & ParameterInfo::kCanAutomate);
    EXPECT_EQ(controller().normalizedParamToPlain(info.id, info.defaultNormalizedValue), item.defaultValue);
    EXPECT_EQ(controller().normalizedParamToPlain(info.id, controller().getParamNormalized(info.id)), item.defaultValue);
    std::vector<double> values;
    if (item.kind == host::ItemKind::Select) {
      EXPECT_EQ(info.stepCount, static_cast<int32>(item.options.size() - 1));
      EXPECT_TRUE(info.flags & ParameterInfo::kIsList);
      for (const auto& option : item.options) values.push_back(option.value);
    } else {
      EXPECT_EQ(info.stepCount, 0);
      // Every step, as the decimal the editor's slider shows.
      const int64_t steps = std::llround((item.max - item.min) / item.step);
      for (int64_t s = 0; s <= steps; ++s) {
        char text[64];
        std::snprintf(text, sizeof text, "%.6f", item.min + static_cast<double>(s) * item.step);
        const double v = std::strtod(text, nullptr), scale = std::pow(10.0, std::ceil(-std::log10(item.step) - 1e-9));
        values.push_back(std::round(v * scale) / scale);
      }
    }
    for (double v : values) {
      const ParamValue n = controller().plainParamToNormalized(info.id, v);
      ASSERT_EQ(controller().normalizedParamToPlain(info.id, n), v) << item.label;
      String128 text{};
      ASSERT_EQ(controller().getParamStringByValue(info.id, n, text), kResultOk);
      ParamValue back = -1;
      ASSERT_EQ(controller().getParamValueByString(info.id, text, back), kResultOk);
      ASSERT_EQ(controller().normalizedParamToPlain(info.id, back), v) << item.label;
    }
  }
  ParameterInfo bypass{};
  ASSERT_EQ(controller().getParameterInfo(static_cast<int32>(items().size()), bypass), kResultOk);
  EXPECT_EQ(bypass.id, 1000u);
  EXPECT_TRUE(bypass.flags & ParameterInfo::kIsBypass);
  EXPECT_EQ(bypass.stepCount, 1);
}

TEST_P(Vst3, OneStereoBusEachWayFloatOnlyNoLatencyAndTheTrueTail) {
  IComponent& c = instance_->component();
  IAudioProcessor& p = instance_->processor();
  for (int32 dir : {kInput, kOutput}) {
    ASSERT_EQ(c.getBusCount(kAudio, dir), 1);
    EXPECT_EQ(c.getBusCount(kEvent, dir), 0);
    BusInfo bus{};
    ASSERT_EQ(c.getBusInfo(kAudio, dir, 0, bus), kResultOk);
    EXPECT_EQ(bus.channelCount, 2);
    EXPECT_EQ(bus.busType, kMain);
  }
  SpeakerArrangement mono = 1, stereo = kStereo;
  EXPECT_EQ(p.setBusArrangements(&mono, 1, &mono, 1), kResultFalse);
  EXPECT_EQ(p.setBusArrangements(&stereo, 1, &stereo, 2), kResultFalse);
  EXPECT_EQ(p.setBusArrangements(&stereo, 1, &stereo, 1), kResultTrue);
  EXPECT_EQ(p.canProcessSampleSize(kSample32), kResultTrue);
  EXPECT_EQ(p.canProcessSampleSize(kSample64), kResultFalse);
  ProcessSetup doubles{0, kSample64, 512, 48000};
  EXPECT_EQ(p.setupProcessing(doubles), kResultFalse);
  ASSERT_TRUE(instance_->Activate(48000));
  EXPECT_EQ(p.getLatencySamples(), 0u);
  const std::string slug = kPluginSlugs[GetParam()];
  EXPECT_EQ(p.getTailSamples(), slug == "pitch_shifter" ? 3000u : slug == "delay" ? 24000u * 12u : 0u);
}

// Process calls of many lengths with points inside them, buffers apart and
// in place, zero-frame calls (flushes) and calls without buffers between:
// each piece between points is the .auf2's next block.
TEST_P(Vst3, SameSamplesAsTheAviUtl2PluginWithPointsAtTheirOffsets) {
  constexpr int kRate = 44100;
  for (unsigned trial = 0; trial < 2; ++trial) {
    std::mt19937 rng(70 + trial);
    instance_ = Make();
    ASSERT_TRUE(instance_->Activate(kRate));
    reference_->ResetValues();
    host::BlockRequest request{.id = 700 + trial, .sampleRate = kRate};
    for (int call = 0; call < 24; ++call) {
      const int32_t n = call % 7 == 3 ? 0 : static_cast<int32_t>(rng() % 1500);
      std::vector<Vst3Point> points;
      for (uint32_t e = rng() % 4; e > 0; --e) {
        const size_t k = rng() % items().size();
        points.push_back({n ? static_cast<int32_t>(rng() % static_cast<uint32_t>(n)) : 0, static_cast<uint32_t>(k), Random(k, rng)});
      }
      std::stable_sort(points.begin(), points.end(), [](auto& a, auto& b) { return a.offset < b.offset; });
      const Stereo in = RandomStereo(static_cast<size_t>(n), rng);
      Stereo got = in;
      if (call % 11 == 5) {
        instance_->Process(nullptr, nullptr, nullptr, nullptr, n, points);  // no buffers: the points only
        for (const Vst3Point& p : points) reference_->SetValue(p.id, p.plain);
        continue;
      }
      if (trial == 1) {
        got = Stereo(static_cast<size_t>(n), 9.0f, -9.0f);
        instance_->Process(const_cast<float*>(in.left.data()), const_cast<float*>(in.right.data()), got.left.data(),
                           got.right.data(), n, points);
      } else {
        instance_->Process(got.left.data(), got.right.data(), got.left.data(), got.right.data(), n, points);
      }
      std::vector<size_t> cuts;
      for (const Vst3Point& p : points) cuts.push_back(static_cast<size_t>(p.offset));
      const Stereo want = RunPieces(*reference_, in, cuts,
                                    [&](size_t i) { reference_->SetValue(points[i].id, points[i].plain); }, request);
      for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
        ASSERT_EQ(Bits(got.left[i]), Bits(want.left[i])) << "trial " << trial << " call " << call << " frame " << i;
        ASSERT_EQ(Bits(got.right[i]), Bits(want.right[i])) << "trial " << trial << " call " << call << " frame " << i;
      }
    }
  }
}

TEST_P(Vst3, BypassFadesToTheDryInputAndBack) {
  constexpr int32_t kFade = 480, kCall = 2000;
  std::mt19937 rng(4);
  const Stereo in = RandomStereo(4 * kCall, rng);
  const Stereo want = RunBlocks(*reference_, in, kCall, {.id = 78, .sampleRate = 48000});
  ASSERT_TRUE(instance_->Activate(48000));
  Stereo got = in;
  for (int32_t c = 0; c < 4; ++c) {
    std::vector<Vst3Point> points;
    if (c == 1) points = {{0, 1000, 1.0}};
    if (c == 2) points = {{0, 1000, 0.0}};
    float* l = got.left.data() + c * kCall;
    float* r = got.right.data() + c * kCall;
    instance_->Process(l, r, l, r, kCall, points);
  }
  for (int32_t i = kFade; i < kCall; ++i) {
    ASSERT_EQ(Bits(got.left[i]), Bits(want.left[i])) << i;
    ASSERT_EQ(Bits(got.left[kCall + i]), Bits(in.left[kCall + i])) << i;
    ASSERT_EQ(Bits(got.right[2 * kCall + i]), Bits(want.right[2 * kCall + i])) << i;
  }
}

// Values set, saved through a stream that takes a few bytes at a time,
// loaded into a new instance: the same samples. A stream that is short,
// long, corrupt, of another version or of another effect is refused and
// changes nothing.
TEST_P(Vst3, StateSurvivesAReloadAndDamageChangesNothing) {
  std::mt19937 rng(10);
  std::vector<Vst3Point> settings;
  for (size_t k = 0; k < items().size(); ++k) settings.push_back({0, static_cast<uint32_t>(k), Random(k, rng)});
  ASSERT_TRUE(instance_->Activate(44100));
  instance_->Process(nullptr, nullptr, nullptr, nullptr, 0, settings);  // a flush
  const std::vector<uint8_t> blob = instance_->SaveState(5);
  auto reloaded = Make();
  ASSERT_EQ(reloaded->LoadState(blob, 3), kResultOk);
  for (size_t k = 0; k < items().size(); ++k)
    EXPECT_EQ(reloaded->controller().normalizedParamToPlain(static_cast<ParamID>(k),
                                                           reloaded->controller().getParamNormalized(static_cast<ParamID>(k))),
              settings[k].plain);
  const Stereo in = RandomStereo(2000, rng);
  Stereo a = in, b = in;
  for (auto* i : {instance_.get(), reloaded.get()}) {
    Stereo& io = i == reloaded.get() ? b : a;
    ASSERT_TRUE(i->Activate(44100));
    i->Process(io.left.data(), io.right.data(), io.left.data(), io.right.data(), 2000);
  }
  for (size_t i = 0; i < in.size(); ++i) ASSERT_EQ(Bits(a.right[i]), Bits(b.right[i])) << i;

  auto fresh = Make();
  const std::vector<uint8_t> before = fresh->SaveState();
  std::vector<std::vector<uint8_t>> damaged(5, blob);
  damaged[0].pop_back();
  damaged[1].push_back(7);
  damaged[2][blob.size() - 9] ^= 0x01;
  damaged[3][4] = 9;
  damaged[4].clear();
  for (const auto& bad : damaged) {
    EXPECT_EQ(fresh->LoadState(bad), kResultFalse);
    EXPECT_EQ(fresh->SaveState(), before);
  }
}

TEST_P(Vst3, ProcessDoesNotAllocate) {
  if (!host::AllocationCounter::Available()) GTEST_SKIP() << "the allocator cannot be counted here";
  std::mt19937 rng(6);
  ASSERT_TRUE(instance_->Activate(44100));
  for (int call = 0; call < 30; ++call) {
    const int32_t n = static_cast<int32_t>(rng() % 3000);
    Stereo io = RandomStereo(static_cast<size_t>(n), rng);
    const size_t k = rng() % items().size();
    const std::vector<Vst3Point> points = {{n / 2, static_cast<uint32_t>(k), Random(k, rng)},
                                           {n / 3 * 2, 1000, static_cast<double>(call % 5 == 0)}};
    host::AllocationCounter counter;
    instance_->Process(io.left.data(), io.right.data(), io.left.data(), io.right.data(), n, points);
    EXPECT_EQ(counter.calls(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(AllPlugins, Vst3, ::testing::Range<size_t>(0, std::size(kPluginNames)),
                         [](const auto& info) { return std::string(kPluginNames[info.param]); });

}  // namespace
}  // namespace velmor::test
