// The file details of each Windows DLL, read back as Windows' Properties page
// reads them (GetFileVersionInfoW and VerQueryValueW, here under wine).
#ifdef _WIN32
#include <windows.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "framework/version.h"
#include "host/plugin_host.h"
#include "plugin_list.h"

namespace velmor::test {
namespace {

class VersionInfo {
 public:
  explicit VersionInfo(const std::string& path) {
    const std::wstring wide(path.begin(), path.end());
    DWORD ignored = 0;
    data_.resize(GetFileVersionInfoSizeW(wide.c_str(), &ignored));
    if (!data_.empty() && !GetFileVersionInfoW(wide.c_str(), 0, static_cast<DWORD>(data_.size()), data_.data()))
      data_.clear();
  }
  bool Present() const { return !data_.empty(); }
  // A string of the Japanese, Unicode table, in UTF-8 ("" when absent).
  std::string String(const char* key) const {
    const std::string query = std::string("\\StringFileInfo\\041104B0\\") + key;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data_.data(), std::wstring(query.begin(), query.end()).c_str(), &value, &length) || !value)
      return "";
    return DecodeUtf16(static_cast<const char16_t*>(value)).value_or("");
  }
  VS_FIXEDFILEINFO Fixed() const {
    void* value = nullptr;
    UINT length = 0;
    VS_FIXEDFILEINFO info{};
    if (VerQueryValueW(data_.data(), L"\\", &value, &length) && length >= sizeof info) info = *static_cast<VS_FIXEDFILEINFO*>(value);
    return info;
  }

 private:
  std::vector<char> data_;
};

std::string Utf8(const char16_t* text) { return DecodeUtf16(text).value_or("?"); }

TEST(VersionResource, EveryDllCarriesItsFileDetails) {
  std::ifstream license(VELMOR_SOURCE_DIR "/LICENSE");
  std::string copyright;
  while (std::getline(license, copyright) && copyright.rfind("Copyright ", 0) != 0) {
  }
  ASSERT_EQ(copyright.rfind("Copyright ", 0), 0u) << "no copyright line in LICENSE";
  const std::string version = Utf8(VELMOR_VERSION_TEXT).substr(1);  // "0.1β" from "v0.1β"
  for (const char* name : kPluginNames) {
    SCOPED_TRACE(name);
    const std::string path = host::PluginPath(kPluginDir, name);
    std::string error;
    auto plugin = host::Plugin::Load(path, &error);
    ASSERT_TRUE(plugin) << error;
    const VersionInfo info(path);
    ASSERT_TRUE(info.Present());
    EXPECT_EQ(info.String("FileDescription"), plugin->description().information);
    EXPECT_EQ(info.String("FileVersion"), version);
    EXPECT_EQ(info.String("ProductVersion"), version);
    EXPECT_EQ(info.String("ProductName"), "Velmor ミニオーディオエフェクト");
    EXPECT_EQ(info.String("LegalCopyright"), copyright);
    EXPECT_EQ(info.String("OriginalFilename"), std::string(name) + ".auf2");
    EXPECT_EQ(info.String("InternalName"), name);
    const VS_FIXEDFILEINFO fixed = info.Fixed();
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.dwFileVersionMS, (DWORD{VELMOR_VERSION_MAJOR} << 16) | VELMOR_VERSION_MINOR);
    EXPECT_EQ(fixed.dwFileVersionLS, DWORD{VELMOR_VERSION_PATCH} << 16);
    EXPECT_EQ(fixed.dwProductVersionMS, fixed.dwFileVersionMS);
    EXPECT_EQ(fixed.dwFileType, DWORD{VFT_DLL});
  }
}

}  // namespace
}  // namespace velmor::test
#endif
