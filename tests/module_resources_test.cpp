// The resources of the built module, read from its file as the system reads them: the module
// is mapped as a data file and its resources found by type, name and language.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "vandrel_version.h"
#include "win_test_support.h"

namespace {

std::string gModulePath;
const WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

class ModuleResources : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExA(gModulePath.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module_, nullptr) << gModulePath << " error " << GetLastError();
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
  }
  std::vector<BYTE> Resource(LPCSTR type, LPCSTR name) {
    HRSRC found = FindResourceExA(module_, type, name, kEnglishUs);
    if (found == NULL) return {};
    const BYTE *data = static_cast<const BYTE *>(LockResource(LoadResource(module_, found)));
    return std::vector<BYTE>(data, data + SizeofResource(module_, found));
  }
  HMODULE module_ = NULL;
};

// Reads a classic dialog template in order.
struct TemplateReader {
  const std::vector<BYTE> &bytes;
  size_t at;
  WORD Word() {
    WORD w = 0;
    if (at + 2 <= bytes.size()) std::memcpy(&w, &bytes[at], 2);
    at += 2;
    return w;
  }
  DWORD Dword() {
    DWORD low = Word();
    return low | static_cast<DWORD>(Word()) << 16;
  }
  // A name or ordinal field: "#n" for an ordinal.
  std::string NameOrOrdinal() {
    WORD first = Word();
    if (first == 0xFFFF) return "#" + std::to_string(Word());
    std::string text;
    for (WORD c = first; c != 0; c = Word()) text += static_cast<char>(c);
    return text;
  }
  void AlignDword() { at = (at + 3) & ~size_t(3); }
};

struct Control {
  DWORD style;
  short x, y, cx, cy;
  WORD id;
  const char *windowClass;
  const char *text;
};

TEST_F(ModuleResources, Dialog2003IsTheClassicTemplateWithItsNineControls) {
  std::vector<BYTE> bytes = Resource(RT_DIALOG, MAKEINTRESOURCEA(2003));
  ASSERT_FALSE(bytes.empty());
  TemplateReader r{bytes, 0};
  EXPECT_EQ(r.Dword(), 0x90C800C0u) << "style";
  EXPECT_EQ(r.Dword(), 0u) << "extended style";
  ASSERT_EQ(r.Word(), 9) << "controls";
  EXPECT_EQ(static_cast<short>(r.Word()), 14);
  EXPECT_EQ(static_cast<short>(r.Word()), 11);
  EXPECT_EQ(static_cast<short>(r.Word()), 130);
  EXPECT_EQ(static_cast<short>(r.Word()), 141);
  EXPECT_EQ(r.NameOrOrdinal(), "") << "menu";
  EXPECT_EQ(r.NameOrOrdinal(), "") << "class";
  EXPECT_EQ(r.NameOrOrdinal(), "Vandrel Settings");
  EXPECT_EQ(r.Word(), 8) << "point size";
  EXPECT_EQ(r.NameOrOrdinal(), "MS Sans Serif");

  const DWORD kChild = WS_CHILD | WS_VISIBLE;
  const Control kControls[9] = {
      {kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 45, 120, 40, 14, 1, "#128", "OK"},
      {kChild | SS_CENTER, 20, 5, 90, 8, 101, "#130", "Vandrel Screen Saver"},
      {kChild | SS_CENTER, 20, 24, 90, 8, 102, "#130", nullptr},
      {kChild | SS_CENTER, 20, 15, 90, 8, 103, "#130", "Quorvel"},
      {kChild | BS_AUTORADIOBUTTON, 25, 50, 77, 10, 1002, "#128", "Method 1 - Gradual"},
      {kChild | BS_AUTORADIOBUTTON, 25, 65, 71, 10, 1003, "#128", "Method 2 - Faster"},
      {kChild | BS_GROUPBOX, 15, 40, 100, 55, 0xFFFF, "#128", "Static"},
      {kChild | BS_AUTOCHECKBOX | WS_TABSTOP, 25, 100, 60, 10, 1005, "#128", "Lossy Vandrel"},
      {kChild | BS_AUTORADIOBUTTON, 25, 80, 75, 10, 1004, "#128", "Method 3 - Melting"},
  };
  for (const Control &c : kControls) {
    SCOPED_TRACE(c.id);
    r.AlignDword();
    EXPECT_EQ(r.Dword(), c.style);
    EXPECT_EQ(r.Dword(), 0u) << "extended style";
    EXPECT_EQ(static_cast<short>(r.Word()), c.x);
    EXPECT_EQ(static_cast<short>(r.Word()), c.y);
    EXPECT_EQ(static_cast<short>(r.Word()), c.cx);
    EXPECT_EQ(static_cast<short>(r.Word()), c.cy);
    EXPECT_EQ(r.Word(), c.id);
    EXPECT_EQ(r.NameOrOrdinal(), c.windowClass);
    std::string text = r.NameOrOrdinal();
    if (c.text)
      EXPECT_EQ(text, c.text);
    else
      EXPECT_FALSE(text.empty()) << "author credit";
    EXPECT_EQ(r.Word(), 0) << "creation data";
  }
  EXPECT_EQ(r.at, bytes.size());
}

TEST_F(ModuleResources, StringOneDescribesTheSaver) {
  char text[64] = {};
  EXPECT_EQ(LoadStringA(module_, 1, text, sizeof text), 13);
  EXPECT_STREQ(text, "Vandrel Saver");
  // The string table block holding string 1 is the English (United States) one.
  EXPECT_FALSE(Resource(RT_STRING, MAKEINTRESOURCEA(1)).empty());
}

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width, height, colours, reserved;
  WORD planes, bitCount;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

TEST_F(ModuleResources, IconGroup104HoldsA16AndA256ColourImage) {
  std::vector<BYTE> group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEA(104));
  ASSERT_EQ(group.size(), 6u + 2 * sizeof(GroupIconEntry));
  WORD header[3];
  std::memcpy(header, group.data(), 6);
  EXPECT_EQ(header[0], 0);
  EXPECT_EQ(header[1], 1) << "icon";
  ASSERT_EQ(header[2], 2);
  const int kBits[2] = {4, 8};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    GroupIconEntry e;
    std::memcpy(&e, &group[6 + i * sizeof e], sizeof e);
    EXPECT_EQ(e.width, 32);
    EXPECT_EQ(e.height, 32);
    EXPECT_EQ(e.colours, i == 0 ? 16 : 0);
    EXPECT_EQ(e.bitCount, kBits[i]);
    EXPECT_EQ(e.id, i + 1);
    std::vector<BYTE> image = Resource(RT_ICON, MAKEINTRESOURCEA(e.id));
    ASSERT_EQ(image.size(), e.bytes);
    BITMAPINFOHEADER info;
    std::memcpy(&info, image.data(), sizeof info);
    EXPECT_EQ(info.biWidth, 32);
    EXPECT_EQ(info.biHeight, 64);
    EXPECT_EQ(info.biBitCount, kBits[i]);
    // Header, palette, colour rows and mask: nothing missing, nothing over.
    size_t palette = (size_t(1) << kBits[i]) * 4;
    EXPECT_EQ(image.size(), 40 + palette + 32 * 32 * kBits[i] / 8 + 32 * 4);
    // The system turns it into an icon.
    HICON icon = CreateIconFromResourceEx(image.data(), static_cast<DWORD>(image.size()), TRUE,
                                          0x00030000, 32, 32, 0);
    EXPECT_NE(icon, nullptr);
    if (icon) DestroyIcon(icon);
  }
  EXPECT_TRUE(Resource(RT_GROUP_ICON, MAKEINTRESOURCEA(100)).empty()) << "no icon 100";
}

std::string VersionString(const std::vector<BYTE> &data, const char *name) {
  std::string path = std::string("\\StringFileInfo\\040904b0\\") + name;
  char *text = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), path.c_str(), reinterpret_cast<void **>(&text), &length))
    return "<missing>";
  return std::string(text);
}

TEST_F(ModuleResources, VersionDataNamesTheFileAndItsMaker) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(gModulePath.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> data(size);
  ASSERT_TRUE(GetFileVersionInfoA(gModulePath.c_str(), 0, size, data.data()));
  VS_FIXEDFILEINFO *fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void **>(&fixed), &length));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  // The project's version, major.minor.patch.0, in the fixed part and as text.
  const DWORD high = VANDREL_VERSION_MAJOR << 16 | VANDREL_VERSION_MINOR;
  const DWORD low = VANDREL_VERSION_PATCH << 16;
  const std::string text = std::to_string(VANDREL_VERSION_MAJOR) + ", " +
                           std::to_string(VANDREL_VERSION_MINOR) + ", " +
                           std::to_string(VANDREL_VERSION_PATCH) + ", 0";
  EXPECT_EQ(fixed->dwFileVersionMS, high);
  EXPECT_EQ(fixed->dwFileVersionLS, low);
  EXPECT_EQ(fixed->dwProductVersionMS, high);
  EXPECT_EQ(fixed->dwProductVersionLS, low);
  EXPECT_EQ(fixed->dwFileFlagsMask, 0x3Fu);
  EXPECT_EQ(fixed->dwFileFlags, 0u);
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  EXPECT_EQ(fixed->dwFileSubtype, 0u);

  EXPECT_EQ(VersionString(data, "CompanyName"), "Quorvel");
  EXPECT_EQ(VersionString(data, "FileDescription"), "Vandrel Screen Saver");
  EXPECT_EQ(VersionString(data, "FileVersion"), text);
  EXPECT_EQ(VersionString(data, "InternalName"), "Vandrel Saver");
  EXPECT_EQ(VersionString(data, "OriginalFilename"), "Vandrel.scr");
  EXPECT_EQ(VersionString(data, "ProductName"), "Vandrel Saver");
  EXPECT_EQ(VersionString(data, "ProductVersion"), text);

  WORD *translation = nullptr;
  ASSERT_TRUE(VerQueryValueA(data.data(), "\\VarFileInfo\\Translation",
                             reinterpret_cast<void **>(&translation), &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(translation[0], 0x409);
  EXPECT_EQ(translation[1], 1200);
  EXPECT_FALSE(Resource(RT_VERSION, MAKEINTRESOURCEA(1)).empty()) << "English (United States)";
}

// The text of resource 1 of type 24, found as the loader finds it (no language asked for).
std::string ManifestText(HMODULE module) {
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  if (found == NULL) return "";
  const char *data = static_cast<const char *>(LockResource(LoadResource(module, found)));
  return std::string(data, SizeofResource(module, found));
}

// Every element closed in order; declarations and comments skipped. Empty when well nested,
// else what went wrong.
std::string TagNestingFault(const std::string &xml) {
  std::vector<std::string> open;
  for (size_t at = xml.find('<'); at != std::string::npos; at = xml.find('<', at + 1)) {
    size_t end = xml.find('>', at);
    if (end == std::string::npos) return "unclosed tag at " + std::to_string(at);
    std::string tag = xml.substr(at + 1, end - at - 1);
    if (tag.empty()) return "empty tag at " + std::to_string(at);
    if (tag[0] == '?' || tag[0] == '!') continue;
    bool closing = tag[0] == '/', empty = tag.back() == '/';
    std::string name = tag.substr(closing, tag.find_first_of(" \t\r\n/", closing) - closing);
    if (closing) {
      if (open.empty() || open.back() != name)
        return "</" + name + "> closes no open <" + name + ">";
      open.pop_back();
    } else if (!empty) {
      open.push_back(name);
    }
  }
  return open.empty() ? "" : "<" + open.back() + "> never closed";
}

TEST_F(ModuleResources, ManifestOneIsWellFormedAndAsksForNothingOlderSystemsRefuse) {
  std::string xml = ManifestText(module_);
  ASSERT_FALSE(xml.empty()) << "no resource 1 of type 24";
  EXPECT_EQ(xml.rfind("<?xml version=\"1.0\"", 0), 0u);
  EXPECT_EQ(TagNestingFault(xml), "");
  EXPECT_NE(xml.find("<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" "
                     "manifestVersion=\"1.0\">"),
            std::string::npos);
  EXPECT_NE(xml.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"),
            std::string::npos);
  EXPECT_EQ(xml.find("<dependency"), std::string::npos) << "binds to another assembly";
}

// The platform's own reading of the manifest: an activation context made from the module's
// resource, and the DPI settings it holds.
TEST_F(ModuleResources, ManifestOneDeclaresPerMonitorDpiAwareness) {
  ACTCTXA request = {};
  request.cbSize = sizeof request;
  request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
  request.lpSource = gModulePath.c_str();
  request.lpResourceName = MAKEINTRESOURCEA(1);
  HANDLE context = CreateActCtxA(&request);
  ASSERT_NE(context, INVALID_HANDLE_VALUE)
      << "the platform refuses the manifest: error " << GetLastError();
  typedef BOOL(WINAPI * QuerySettings)(DWORD, HANDLE, PCWSTR, PCWSTR, PWSTR, SIZE_T, SIZE_T *);
  QuerySettings query = reinterpret_cast<QuerySettings>(reinterpret_cast<void *>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryActCtxSettingsW")));
  ASSERT_NE(query, nullptr);
  auto setting = [&](PCWSTR space, PCWSTR name) {
    WCHAR value[64] = {};
    SIZE_T written = 0;
    if (!query(0, context, space, name, value, 64, &written))
      return "<error " + std::to_string(GetLastError()) + ">";
    std::string text;
    for (const WCHAR *c = value; *c; ++c) text += static_cast<char>(*c);
    return text;
  };
  EXPECT_EQ(setting(NULL, L"dpiAware"), "true/pm");
  EXPECT_EQ(setting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness"),
            "PerMonitorV2, PerMonitor");
  ReleaseActCtx(context);
}

}  // namespace

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: module_resources_test MODULE\n");
    return 2;
  }
  gModulePath = wintest::WindowsPath(argv[1]);
  return RUN_ALL_TESTS();
}
