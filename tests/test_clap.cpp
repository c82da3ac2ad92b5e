// velmor.clap through our CLAP host (tests/clap/clap_host.h) against the
// AviUtl2 plug-ins: every process call split at its parameter events gives,
// bit for bit, what the .auf2 gives for the same pieces as consecutive
// blocks; the descriptors, parameter ids, ports, latency and tails are
// pinned; the bypass fades; the state survives a save and a load into a new
// instance, and a damaged state changes nothing; process() does not
// allocate.
#include <algorithm>
#include <cmath>
#include <random>

#include "clap/clap_host.h"
#include "host/allocation_counter.h"
#include "plugin_test.h"

namespace velmor::test {
namespace {

const ClapLibrary& Library() {
  static std::unique_ptr<ClapLibrary> library = [] {
    std::string error;
    auto loaded = ClapLibrary::Load(kClapLibrary, &error);
    EXPECT_NE(loaded, nullptr) << error;
    return loaded;
  }();
  return *library;
}

std::string PluginId(size_t p) { return std::string("org.velmor.") + kPluginSlugs[p]; }

// The CLAP feature of each effect's kind, by slug: pinned, since hosts sort
// plug-ins by them.
const char* ExpectedFeature(const std::string& slug) {
  if (slug == "equalizer") return "equalizer";
  if (slug == "modulator") return "ring-modulator";
  if (slug == "distortion") return "distortion";
  if (slug == "delay") return "delay";
  if (slug == "pitch_shifter") return "pitch-shifter";
  if (slug == "tremolo") return "tremolo";
  return "filter";
}

TEST(ClapLibrary, ListsEveryEffectWithStableIdsAndFeatures) {
  const auto descriptors = Library().Descriptors();
  ASSERT_EQ(descriptors.size(), std::size(kPluginNames));
  for (size_t p = 0; p < descriptors.size(); ++p) {
    const clap::PluginDescriptor& d = *descriptors[p];
    EXPECT_EQ(d.clap_version.major, 1u);
    EXPECT_EQ(std::string(d.id), PluginId(p));
    EXPECT_EQ(std::string(d.vendor), "Velmor");
    EXPECT_EQ(std::string(d.name).rfind("Velmor ", 0), 0u) << d.name;
    EXPECT_NE(std::string(d.version), "");
    std::vector<std::string> features;
    for (const char* const* f = d.features; *f != nullptr; ++f) features.push_back(*f);
    EXPECT_EQ(features, (std::vector<std::string>{"audio-effect", "stereo", ExpectedFeature(kPluginSlugs[p])}));
  }
  // An unknown id makes nothing.
  EXPECT_EQ(Library().factory().create_plugin(&Library().factory(), nullptr, "org.velmor.none"), nullptr);
}

// Values in range for a scenario, the way a host automates: whole options,
// sliders anywhere between their ends.
double RandomValue(const host::ItemInfo& item, std::mt19937& rng) {
  if (item.kind == host::ItemKind::Select) return static_cast<double>(rng() % item.options.size());
  return std::uniform_real_distribution<double>(item.min, item.max)(rng);
}

class Clap : public ::testing::TestWithParam<size_t> {
 protected:
  void SetUp() override {
    reference_ = LoadPlugin(kPluginNames[GetParam()]);
    ASSERT_TRUE(reference_);
    instance_ = std::make_unique<ClapInstance>(Library(), PluginId(GetParam()).c_str());
    ASSERT_TRUE(instance_->ok());
  }
  const std::vector<host::ItemInfo>& items() const { return reference_->description().items; }

  std::unique_ptr<host::Plugin> reference_;
  std::unique_ptr<ClapInstance> instance_;
};

TEST_P(Clap, ParametersAreTheItemsWithPinnedIds) {
  const auto params = instance_->Params();
  ASSERT_EQ(params.size(), items().size() + 1);
  for (size_t k = 0; k < items().size(); ++k) {
    const host::ItemInfo& item = items()[k];
    const clap::ParamInfo& info = params[k];
    EXPECT_EQ(info.id, k);
    EXPECT_NE(std::string(info.name), "");
    EXPECT_TRUE(info.flags & clap::kParamIsAutomatable);
    EXPECT_EQ(info.default_value, item.defaultValue);
    EXPECT_EQ(instance_->Value(info.id), item.defaultValue);
    if (item.kind == host::ItemKind::Select) {
      EXPECT_EQ(info.flags & (clap::kParamIsStepped | clap::kParamIsEnum), clap::kParamIsStepped | clap::kParamIsEnum);
      EXPECT_EQ(info.min_value, 0.0);
      EXPECT_EQ(info.max_value, static_cast<double>(item.options.size() - 1));
    } else {
      EXPECT_EQ(info.flags & clap::kParamIsStepped, 0u);
      EXPECT_EQ(info.min_value, item.min);
      EXPECT_EQ(info.max_value, item.max);
    }
    // Every option and the first slider steps read back from their text.
    std::vector<double> values;
    if (item.kind == host::ItemKind::Select)
      for (const auto& option : item.options) values.push_back(option.value);
    else
      for (int s = 0; s < 5; ++s) values.push_back(item.min + s * item.step), values.push_back(item.max - s * item.step);
    for (double v : values) {
      char text[256];
      ASSERT_TRUE(instance_->params()->value_to_text(&instance_->plugin(), info.id, v, text, sizeof text));
      double back = NAN;
      ASSERT_TRUE(instance_->params()->text_to_value(&instance_->plugin(), info.id, text, &back)) << text;
      char again[256];
      ASSERT_TRUE(instance_->params()->value_to_text(&instance_->plugin(), info.id, back, again, sizeof again));
      EXPECT_STREQ(again, text);
      EXPECT_NEAR(back, v, item.kind == host::ItemKind::Select ? 0.0 : item.step * 1e-6) << text;
    }
  }
  const clap::ParamInfo& bypass = params.back();
  EXPECT_EQ(bypass.id, 1000u);
  EXPECT_EQ(bypass.flags & clap::kParamIsBypass, clap::kParamIsBypass);
  EXPECT_EQ(bypass.default_value, 0.0);
  EXPECT_FALSE(instance_->params()->get_value(&instance_->plugin(), 999, nullptr));
}

TEST_P(Clap, OneStereoPortEachWayNoLatencyAndTheTrueTail) {
  for (bool input : {true, false}) {
    ASSERT_EQ(instance_->ports()->count(&instance_->plugin(), input), 1u);
    clap::AudioPortInfo info{};
    ASSERT_TRUE(instance_->ports()->get(&instance_->plugin(), 0, input, &info));
    EXPECT_EQ(info.channel_count, 2u);
    EXPECT_EQ(info.flags & clap::kAudioPortIsMain, clap::kAudioPortIsMain);
    EXPECT_STREQ(info.port_type, "stereo");
    EXPECT_EQ(info.in_place_pair, 0u);
  }
  ASSERT_TRUE(instance_->Activate(48000));
  EXPECT_EQ(instance_->latency()->get(&instance_->plugin()), 0u);
  const uint32_t tail = instance_->tail()->get(&instance_->plugin());
  const std::string slug = kPluginSlugs[GetParam()];
  if (slug == "pitch_shifter") {
    EXPECT_EQ(tail, 3000u);
  } else if (slug == "delay") {
    // 500 ms at 48 kHz, feedback 0.08: under -100 dB after five products.
    EXPECT_EQ(tail, 24000u * 12u);
    instance_->Flush({{0, 4, 0.0}});  // no feedback: the echo's two trips
    EXPECT_EQ(instance_->tail()->get(&instance_->plugin()), 48000u);
  } else {
    EXPECT_EQ(tail, 0u);
  }
}

// Process calls of many lengths, events inside them, buffers apart and in
// place: each piece between events is the .auf2's next block.
TEST_P(Clap, SameSamplesAsTheAviUtl2PluginWithEventsAtTheirFrames) {
  constexpr int kRate = 48000;
  for (unsigned trial = 0; trial < 3; ++trial) {
    std::mt19937 rng(40 + trial);
    instance_ = std::make_unique<ClapInstance>(Library(), PluginId(GetParam()).c_str());
    ASSERT_TRUE(instance_->Activate(kRate));
    reference_->ResetValues();
    host::BlockRequest request{.id = 500 + trial, .sampleRate = kRate};
    for (int call = 0; call < 24; ++call) {
      const uint32_t n = call % 6 == 0 ? rng() % 3 : rng() % 1500;
      std::vector<ClapEvent> events;
      for (uint32_t e = rng() % 4; e > 0; --e) {
        const size_t k = rng() % items().size();
        events.push_back({n ? static_cast<uint32_t>(rng() % n) : 0, static_cast<clap::Id>(k), RandomValue(items()[k], rng)});
      }
      std::sort(events.begin(), events.end(), [](auto& a, auto& b) { return a.time < b.time; });
      const Stereo in = RandomStereo(n, rng);
      Stereo got = in;
      if (trial % 2) {
        got = Stereo(n, 9.0f, -9.0f);
        instance_->Process(const_cast<float*>(in.left.data()), const_cast<float*>(in.right.data()), got.left.data(),
                           got.right.data(), n, events);
      } else {
        instance_->Process(got.left.data(), got.right.data(), got.left.data(), got.right.data(), n, events);
      }
      std::vector<size_t> cuts;
      for (const ClapEvent& e : events) cuts.push_back(e.time);
      const Stereo want = RunPieces(*reference_, in, cuts,
                                    [&](size_t i) { reference_->SetValue(events[i].id, events[i].value); }, request);
      for (size_t i = 0; i < n; ++i) {
        ASSERT_EQ(Bits(got.left[i]), Bits(want.left[i])) << "trial " << trial << " call " << call << " frame " << i;
        ASSERT_EQ(Bits(got.right[i]), Bits(want.right[i])) << "trial " << trial << " call " << call << " frame " << i;
      }
    }
  }
}

// Bypassed, the output fades to the dry input within 10 ms and is then the
// input exactly; the effect runs on meanwhile, so that on again it fades
// back to what an object that was never bypassed gives.
TEST_P(Clap, BypassFadesToTheDryInputAndBack) {
  constexpr uint32_t kFade = 480, kCall = 2000;
  std::mt19937 rng(3);
  const Stereo in = RandomStereo(4 * kCall, rng);
  Stereo want = RunBlocks(*reference_, in, kCall, {.id = 77, .sampleRate = 48000});
  ASSERT_TRUE(instance_->Activate(48000));
  Stereo got = in;
  for (uint32_t c = 0; c < 4; ++c) {
    std::vector<ClapEvent> events;
    if (c == 1) events = {{0, 1000, 1.0}};
    if (c == 2) events = {{0, 1000, 0.0}};
    float* l = got.left.data() + c * kCall;
    float* r = got.right.data() + c * kCall;
    instance_->Process(l, r, l, r, kCall, events);
  }
  for (uint32_t i = 0; i < kCall; ++i) {
    const uint32_t on = i, off = kCall + i, back = 2 * kCall + i;
    ASSERT_EQ(Bits(got.left[on]), Bits(want.left[on])) << on;
    if (i < kFade) continue;
    ASSERT_EQ(Bits(got.left[off]), Bits(in.left[off])) << off;
    ASSERT_EQ(Bits(got.right[back]), Bits(want.right[back])) << back;
  }
  EXPECT_EQ(instance_->Value(1000), 0.0);
}

// Values set by flush while inactive, saved, loaded into a new instance:
// the same values and the same samples. A state that is short, long,
// corrupt, of another version or of another effect changes nothing.
TEST_P(Clap, StateSurvivesAReloadAndDamageChangesNothing) {
  std::mt19937 rng(9);
  std::vector<ClapEvent> settings;
  for (size_t k = 0; k < items().size(); ++k) settings.push_back({0, static_cast<clap::Id>(k), RandomValue(items()[k], rng)});
  instance_->Flush(settings);
  for (const ClapEvent& e : settings) EXPECT_EQ(instance_->Value(e.id), e.value);
  std::vector<uint8_t> blob;
  ASSERT_TRUE(instance_->Save(blob));

  ClapInstance reloaded(Library(), PluginId(GetParam()).c_str());
  ASSERT_TRUE(reloaded.Load(blob));
  const Stereo in = RandomStereo(3000, rng);
  Stereo a = in, b = in;
  for (ClapInstance* i : {instance_.get(), &reloaded}) {
    ASSERT_TRUE(i->Activate(44100));
    Stereo& io = i == &reloaded ? b : a;
    for (uint32_t at = 0; at < 3000; at += 1000)
      i->Process(io.left.data() + at, io.right.data() + at, io.left.data() + at, io.right.data() + at, 1000);
  }
  for (size_t i = 0; i < in.size(); ++i) ASSERT_EQ(Bits(a.left[i]), Bits(b.left[i])) << i;

  ClapInstance fresh(Library(), PluginId(GetParam()).c_str());
  std::vector<std::vector<uint8_t>> damaged(6, blob);
  damaged[0].pop_back();                  // short
  damaged[1].push_back(0);                // long
  damaged[2][blob.size() / 2] ^= 0x10;    // corrupt
  damaged[3][4] = 2;                      // another version
  damaged[4].clear();                     // empty
  damaged[5][9] ^= 0x20;                  // another effect's name
  std::vector<uint8_t> other;
  ClapInstance neighbour(Library(), PluginId((GetParam() + 1) % std::size(kPluginNames)).c_str());
  ASSERT_TRUE(neighbour.Save(other));
  damaged.push_back(other);
  for (const auto& bad : damaged) {
    EXPECT_FALSE(fresh.Load(bad));
    for (size_t k = 0; k < items().size(); ++k) ASSERT_EQ(fresh.Value(static_cast<clap::Id>(k)), items()[k].defaultValue);
  }
}

TEST_P(Clap, ProcessDoesNotAllocate) {
  if (!host::AllocationCounter::Available()) GTEST_SKIP() << "the allocator cannot be counted here";
  std::mt19937 rng(5);
  ASSERT_TRUE(instance_->Activate(44100));
  for (int call = 0; call < 30; ++call) {
    const uint32_t n = rng() % 3000;
    Stereo io = RandomStereo(n, rng);
    const size_t k = rng() % items().size();
    const std::vector<ClapEvent> events = {{n / 2, static_cast<clap::Id>(k), RandomValue(items()[k], rng)},
                                           {n / 3 * 2, 1000, static_cast<double>(call % 5 == 0)}};
    host::AllocationCounter counter;
    instance_->Process(io.left.data(), io.right.data(), io.left.data(), io.right.data(), n, events);
    EXPECT_EQ(counter.calls(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(AllPlugins, Clap, ::testing::Range<size_t>(0, std::size(kPluginNames)),
                         [](const auto& info) { return std::string(kPluginNames[info.param]); });

}  // namespace
}  // namespace velmor::test
