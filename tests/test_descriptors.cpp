// Every descriptor, item and option, walked to its null end, string for string.
#include <map>

#include "plugin_test.h"

namespace velmor::test {
namespace {

struct ExpectedItem {
  const char* kind;
  const char* label;
  double defaultValue, min, max, step;
  std::vector<std::string> options;  // select items
};

struct ExpectedDescriptor {
  const char* name;
  const char* information;
  std::vector<ExpectedItem> items;
};

ExpectedItem Track(const char* label, double def, double min, double max, double step) {
  return {"track", label, def, min, max, step, {}};
}
ExpectedItem Select(const char* label, std::vector<std::string> options) {
  return {"select", label, 0, 0, 0, 0, std::move(options)};
}

const std::vector<std::string> kShapes = {"SIN波", "三角波", "矩形波", "のこぎり波(Up)", "のこぎり波(Down)"};

const std::map<std::string, ExpectedDescriptor>& Expected() {
  static const std::map<std::string, ExpectedDescriptor> table = {
      {"VelmorEqualizer",
       {"イコライザー", "Velmor ミニオーディオエフェクト(イコライザー) v0.1β",
        {Track("100Hz", 0, -15, 15, 0.1), Track("200Hz", 0, -15, 15, 0.1),
         Track("400Hz", 0, -15, 15, 0.1), Track("800Hz", 0, -15, 15, 0.1),
         Track("1600Hz", 0, -15, 15, 0.1), Track("3200Hz", 0, -15, 15, 0.1),
         Track("6400Hz", 0, -15, 15, 0.1), Track("12800Hz", 0, -15, 15, 0.1)}}},
      {"VelmorModulator",
       {"モジュレーター", "Velmor ミニオーディオエフェクト(モジュレーター) v0.1β",
        {Select("タイプ", {"リングモジュレーター", "FMモジュレーター"}), Select("波形タイプ", kShapes),
         Track("周期", 800.0, 50.0, 6000.0, 0.01), Track("深さ", 0.3, 0.0, 1.0, 0.01)}}},
      {"VelmorDistortion",
       {"ディストーション/オーバードライブ", "Velmor ミニオーディオエフェクト(ディストーション) v0.1β",
        {Track("音量", 50.0, 0.0, 100.0, 1.0),
         Select("タイプ", {"ディストーション", "オーバードライブ", "ファズ"}),
         Track("ゲイン", 50.0, 0.0, 100.0, 1.0), Track("トーン", 0.5, 0.0, 1.0, 0.01),
         Track("キャラクター", 0.0, 0.0, 10.0, 0.01)}}},
      {"VelmorDelay",
       {"ディレイ(エコー）", "Velmor ミニオーディオエフェクト(ディレイ) v0.1β",
        {Track("音量(原音)", 100.0, 0.0, 100.0, 1.0), Track("音量(ディレイ)", 50.0, 0.0, 100.0, 1.0),
         Select("タイプ", {"ノーマル", "ピンポン(右から)", "ピンポン(左から)"}),
         Track("ディレイタイム", 500.0, 50.0, 1000.0, 1.0), Track("フィードバック", 0.1, 0.0, 1.0, 0.01)}}},
      {"VelmorPitchShifter",
       {"ピッチシフター", "Velmor ミニオーディオエフェクト(ピッチシフター) v0.1β",
        {Track("音量(原音)", 0.0, 0.0, 100.0, 1.0), Track("音量(ピッチシフト)", 100.0, 0.0, 100.0, 1.0),
         Track("ピッチ", 3.0, -24.0, 24.0, 0.01)}}},
      {"VelmorTremolo",
       {"トレモロ/パンナー", "Velmor ミニオーディオエフェクト(トレモロ) v0.1β",
        {Select("タイプ", {"トレモロ", "パンナー"}), Select("波形タイプ", kShapes),
         Track("周期", 3.0, 0.1, 30.0, 0.01), Track("深さ", 0.3, 0.0, 1.0, 0.01)}}},
      {"VelmorFilter",
       {"ローパス/ハイパスフィルター", "Velmor ミニオーディオエフェクト(フィルター) v0.1β",
        {Select("フィルタタイプ", {"ローパスフィルター", "ハイパスフィルター"}),
         Track("カットオフ周波数", 2000.0, 50.0, 18000.0, 1.0),
         Track("クォリティファクター", 1.0, 0.5, 5.0, 0.01)}}},
  };
  return table;
}

class Descriptor : public ::testing::TestWithParam<const char*> {};

TEST_P(Descriptor, MatchesItsTableExactly) {
  auto plugin = LoadPlugin(GetParam());
  ASSERT_TRUE(plugin);
  auto found = Expected().find(GetParam());
  ASSERT_NE(found, Expected().end()) << "no expected descriptor for " << GetParam();
  const ExpectedDescriptor& want = found->second;
  const host::Description& got = plugin->description();
  EXPECT_EQ(got.flags, 2);
  EXPECT_EQ(got.name, want.name);
  EXPECT_EQ(got.label, "Velmor");
  EXPECT_EQ(got.information, want.information);
  ASSERT_EQ(got.items.size(), want.items.size());
  for (size_t i = 0; i < want.items.size(); ++i) {
    SCOPED_TRACE(want.items[i].label);
    EXPECT_EQ(got.items[i].type, want.items[i].kind);
    EXPECT_EQ(got.items[i].label, want.items[i].label);
    EXPECT_EQ(got.items[i].defaultValue, want.items[i].defaultValue);
    if (got.items[i].kind == host::ItemKind::Track) {
      EXPECT_EQ(got.items[i].min, want.items[i].min);
      EXPECT_EQ(got.items[i].max, want.items[i].max);
      EXPECT_EQ(got.items[i].step, want.items[i].step);
    }
    ASSERT_EQ(got.items[i].options.size(), want.items[i].options.size());
    for (size_t k = 0; k < want.items[i].options.size(); ++k) {
      EXPECT_EQ(got.items[i].options[k].name, want.items[i].options[k]);
      EXPECT_EQ(got.items[i].options[k].value, static_cast<int32_t>(k));
    }
  }
}

// The raw records: padding bytes zero, the option list ends in {null, 0},
// the table is at one address, and the video callback does nothing.
TEST_P(Descriptor, RawRecordsAreWellFormed) {
  auto plugin = LoadPlugin(GetParam());
  ASSERT_TRUE(plugin);
  using TableFn = FilterPluginTable* (*)();
  auto getTable = reinterpret_cast<TableFn>(plugin->Symbol("GetFilterPluginTable"));
  ASSERT_NE(getTable, nullptr);
  EXPECT_EQ(getTable(), getTable());
  const FilterPluginTable* table = getTable();
  uint32_t pad = 1;
  std::memcpy(&pad, reinterpret_cast<const char*>(table) + 4, 4);
  EXPECT_EQ(pad, 0u);
  EXPECT_TRUE(table->process_video(nullptr));
  // Every information line ends in the Greek small letter beta.
  const char16_t* info = table->information;
  size_t n = 0;
  while (info[n] != 0) ++n;
  ASSERT_GT(n, 0u);
  EXPECT_EQ(info[n - 1], u'\u03B2');
  for (const auto& item : plugin->description().items) {
    if (item.kind != host::ItemKind::Select) continue;
    const auto* select = static_cast<const SelectItem*>(item.record);
    std::memcpy(&pad, reinterpret_cast<const char*>(select) + 20, 4);
    EXPECT_EQ(pad, 0u);
    const SelectOption& end = select->options[item.options.size()];
    EXPECT_EQ(end.name, nullptr);
    EXPECT_EQ(end.value, 0);
  }
  using InitFn = bool (*)();
  auto init = reinterpret_cast<InitFn>(plugin->Symbol("InitializePlugin"));
  EXPECT_TRUE(init());
}

INSTANTIATE_TEST_SUITE_P(AllPlugins, Descriptor, ::testing::ValuesIn(kPluginNames),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace velmor::test
