// Reads the built module's headers and import table as the loader would, and holds them to
// what loads on Windows 95: PE32 for i386, GUI subsystem 4.0, and imports only of the
// Windows 95 functions of KERNEL32, USER32, GDI32 and ADVAPI32 named in an allowlist.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string gModulePath;
std::string gAllowlistPath;

std::string Upper(std::string s) {
  for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

struct Section {
  std::string name;  // "/n" for a long name kept in the symbol table's strings
  uint32_t virtualAddress, virtualSize, rawOffset, rawSize;
};

class ModuleImage {
 public:
  explicit ModuleImage(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool Loaded() const { return bytes_.size() > 0x40; }
  size_t Size() const { return bytes_.size(); }
  uint16_t U16(size_t at) const {
    return Check(at, 2) ? static_cast<uint16_t>(bytes_[at] | bytes_[at + 1] << 8) : 0;
  }
  uint32_t U32(size_t at) const {
    return Check(at, 4) ? static_cast<uint32_t>(U16(at) | U16(at + 2) << 16) : 0;
  }
  std::string Text(size_t at) const {
    std::string s;
    while (at < bytes_.size() && bytes_[at] != 0) s += static_cast<char>(bytes_[at++]);
    return s;
  }
  uint32_t PeHeader() const { return U32(0x3C); }
  uint32_t Optional() const { return PeHeader() + 24; }
  std::vector<Section> Sections() const {
    std::vector<Section> sections;
    uint16_t count = U16(PeHeader() + 6);
    size_t table = Optional() + U16(PeHeader() + 20);
    for (uint16_t i = 0; i < count; ++i) {
      size_t s = table + 40u * i;
      std::string name;
      for (size_t c = s; c < s + 8 && c < bytes_.size() && bytes_[c] != 0; ++c)
        name += static_cast<char>(bytes_[c]);
      sections.push_back({name, U32(s + 12), U32(s + 8), U32(s + 20), U32(s + 16)});
    }
    return sections;
  }
  // File offset of a relative virtual address, or 0 when no section holds it.
  size_t Offset(uint32_t rva) const {
    for (const Section &s : Sections()) {
      uint32_t size = std::max(s.virtualSize, s.rawSize);
      if (rva >= s.virtualAddress && rva < s.virtualAddress + size)
        return rva - s.virtualAddress + s.rawOffset;
    }
    return 0;
  }
  // The image checksum as the system's CheckSumMappedFile computes it: 16-bit one's-complement
  // sum of the file with the checksum field counted as 0, plus the file's length.
  uint32_t ComputedChecksum() const {
    size_t field = Optional() + 64;
    uint32_t sum = 0;
    for (size_t at = 0; at < bytes_.size(); at += 2) {
      if (at == field || at == field + 2) continue;
      sum += at + 1 < bytes_.size() ? U16(at) : bytes_[at];
      sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return sum + static_cast<uint32_t>(bytes_.size());
  }
  uint32_t DirectoryRva(int index) const { return U32(Optional() + 96 + 8 * index); }
  uint32_t DirectorySize(int index) const { return U32(Optional() + 100 + 8 * index); }

  // DLL name (upper case) -> imported names; "#n" for an import by ordinal.
  std::map<std::string, std::vector<std::string>> Imports() const {
    std::map<std::string, std::vector<std::string>> imports;
    size_t descriptor = Offset(DirectoryRva(1));
    for (; descriptor != 0 && U32(descriptor + 12) != 0; descriptor += 20) {
      std::string dll = Upper(Text(Offset(U32(descriptor + 12))));
      uint32_t thunks = U32(descriptor) ? U32(descriptor) : U32(descriptor + 16);
      for (size_t t = Offset(thunks); t != 0 && U32(t) != 0; t += 4) {
        uint32_t entry = U32(t);
        imports[dll].push_back(entry & 0x80000000u ? "#" + std::to_string(entry & 0xFFFF)
                                                   : Text(Offset(entry) + 2));
      }
    }
    return imports;
  }

 private:
  bool Check(size_t at, size_t n) const { return at + n <= bytes_.size(); }
  std::vector<unsigned char> bytes_;
};

std::map<std::string, std::set<std::string>> Allowlist() {
  std::map<std::string, std::set<std::string>> allowed;
  std::ifstream in(gAllowlistPath);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string dll, function;
    if (!(words >> dll >> function) || dll[0] == '#') continue;
    allowed[Upper(dll)].insert(function);
  }
  return allowed;
}

TEST(ModuleImage, IsAWindows95LoadableGuiProgramForI386) {
  ModuleImage image(gModulePath);
  ASSERT_TRUE(image.Loaded()) << gModulePath;
  ASSERT_EQ(image.U16(0), 0x5A4D);                    // MZ
  ASSERT_EQ(image.U32(image.PeHeader()), 0x4550u);    // PE\0\0
  EXPECT_EQ(image.U16(image.PeHeader() + 4), 0x14C);  // i386
  EXPECT_TRUE(image.U16(image.PeHeader() + 22) & 0x20)
      << "4 GB on 64-bit Windows: large-address aware";
  uint32_t optional = image.Optional();
  EXPECT_EQ(image.U16(optional), 0x10B);   // PE32
  EXPECT_EQ(image.U16(optional + 68), 2);  // GUI subsystem
  EXPECT_EQ(image.U16(optional + 40), 4);  // operating system version 4.0
  EXPECT_EQ(image.U16(optional + 42), 0);
  EXPECT_EQ(image.U16(optional + 48), 4);  // subsystem version 4.0
  EXPECT_EQ(image.U16(optional + 50), 0);
  EXPECT_EQ(image.U32(optional + 32), 0x1000u);  // section alignment
  EXPECT_EQ(image.U32(optional + 36), 0x200u);   // file alignment
  EXPECT_NE(image.U32(optional + 16), 0u);       // an entry point
  EXPECT_EQ(image.DirectoryRva(9), 0u) << "thread-local storage needs a C runtime";
  EXPECT_EQ(image.DirectoryRva(13), 0u) << "no delay-loaded imports";
}

TEST(ModuleImage, IsAReleaseImageWithoutSymbolsOrDebugData) {
  ModuleImage image(gModulePath);
  ASSERT_TRUE(image.Loaded()) << gModulePath;
  EXPECT_EQ(image.U32(image.PeHeader() + 12), 0u) << "pointer to a COFF symbol table";
  EXPECT_EQ(image.U32(image.PeHeader() + 16), 0u) << "COFF symbols";
  EXPECT_EQ(image.DirectoryRva(6), 0u) << "debug directory";
  std::vector<Section> sections = image.Sections();
  ASSERT_FALSE(sections.empty());
  for (const Section &s : sections) {
    EXPECT_NE(s.name.rfind(".debug", 0), 0u) << s.name;
    EXPECT_NE(s.name.rfind("/", 0), 0u) << s.name << ": a long name needs the symbol strings";
  }
  // The code, the icons, the dialog and the manifest fit in 30 KB. (Finding, decoding and
  // placing the wallpaper for a saver that cannot see the screen is about 5 KB of it; following
  // the displays' power and layout, and pacing frames by their cost, about 2.5 KB.)
  EXPECT_LE(image.Size(), 30720u);
}

// A build of the same sources gives the same file: no link time in the header, and the checksum
// is the real one of these bytes (the linker's), not one left over from before a later edit.
TEST(ModuleImage, HeaderHasNoLinkTimeAndTheFilesChecksum) {
  ModuleImage image(gModulePath);
  ASSERT_TRUE(image.Loaded());
  EXPECT_EQ(image.U32(image.PeHeader() + 8), 0u) << "link time stamp";
  EXPECT_EQ(image.U32(image.Optional() + 64), image.ComputedChecksum());
}

TEST(ModuleImage, ImportsOnlyWindows95FunctionsOfTheFourSystemModules) {
  ModuleImage image(gModulePath);
  ASSERT_TRUE(image.Loaded());
  std::map<std::string, std::set<std::string>> allowed = Allowlist();
  ASSERT_EQ(allowed.size(), 4u) << gAllowlistPath;
  std::map<std::string, std::vector<std::string>> imports = image.Imports();
  ASSERT_FALSE(imports.empty());
  for (const auto &[dll, functions] : imports) {
    ASSERT_TRUE(allowed.count(dll)) << "imports from " << dll;
    for (const std::string &function : functions)
      EXPECT_TRUE(allowed[dll].count(function))
          << dll << " " << function << " is not on Windows 95";
  }
  EXPECT_TRUE(imports.count("KERNEL32.DLL"));
}

}  // namespace

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: module_image_test MODULE ALLOWLIST\n");
    return 2;
  }
  gModulePath = argv[1];
  gAllowlistPath = argv[2];
  return RUN_ALL_TESTS();
}
