#include "platform/ini_profile.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/test_support.h"

using testsupport::TempDir;

namespace {

class IniProfile : public ::testing::Test {
 protected:
  // Each case gets its own file: Windows caches the last profile it read.
  std::string Write(const std::string& name, const std::string& content) {
    const std::string path = dir_.Path() + name;
    EXPECT_TRUE(testsupport::WriteFileText(path, content));
    return path;
  }
  std::string Get(const char* section, const char* key, const char* def, const std::string& file,
                  uint32_t size = 512, uint32_t* returned = nullptr) {
    std::vector<char> buffer(size + 1, '#');
    uint32_t n = plat::ReadProfileString(section, key, def, buffer.data(), size, file);
    if (returned) *returned = n;
    EXPECT_EQ('\0', buffer[n]);
    return std::string(buffer.data(), n);
  }
  TempDir dir_;
};

TEST_F(IniProfile, ValuesNamesAndWhitespace) {
  const std::string file = Write("a.ini",
                                 "; a comment line\r\n"
                                 "[VERSION]\r\n"
                                 "LatestVersion=42\r\n"
                                 "  MinimalVersion  =   7   \r\n"
                                 "Name = two words \r\n"
                                 "Quoted=\"  padded  \"\r\n"
                                 "Single='x'\r\n"
                                 "Empty=\r\n"
                                 "\r\n"
                                 "[download]\n"
                                 "server1=http://a.example/patch/\n"
                                 "server1=http://duplicate/\n");
  EXPECT_EQ("42", Get("VERSION", "LatestVersion", "", file));
  EXPECT_EQ("7", Get("version", "minimalversion", "", file));
  EXPECT_EQ("two words", Get("VERSION", "Name", "", file));
  EXPECT_EQ("  padded  ", Get("VERSION", "Quoted", "", file));
  EXPECT_EQ("x", Get("VERSION", "Single", "", file));
  EXPECT_EQ("", Get("VERSION", "Empty", "dflt", file));
  EXPECT_EQ("http://a.example/patch/", Get("DOWNLOAD", "SERVER1", "", file));
}

TEST_F(IniProfile, DefaultsForMissingKeysSectionsAndFiles) {
  const std::string file = Write("b.ini", "[S]\nk=v\n;hidden=1\n");
  EXPECT_EQ("dflt", Get("S", "missing", "dflt", file));
  EXPECT_EQ("dflt", Get("S", "missing", "dflt   ", file));  // trailing blanks of the default go
  EXPECT_EQ("", Get("S", "missing", nullptr, file));
  EXPECT_EQ("d", Get("T", "k", "d", file));
  EXPECT_EQ("d", Get("S", "hidden", "d", file));  // comment lines hold no keys
  EXPECT_EQ("d", Get("S", "k", "d", dir_.Path() + "no-such-file.ini"));
}

TEST_F(IniProfile, ValueIsCutToTheBuffer) {
  const std::string file = Write("c.ini", "[S]\nlong=abcdefghij\n");
  uint32_t n = 0;
  EXPECT_EQ("abcd", Get("S", "long", "", file, 5, &n));
  EXPECT_EQ(4u, n);
  EXPECT_EQ("abcdefghij", Get("S", "long", "", file, 11, &n));
  EXPECT_EQ(10u, n);
}

TEST_F(IniProfile, KeyNamesOfASection) {
  const std::string file = Write("d.ini", "[S]\nserver1=a\nserver2=b\n[T]\nx=1\n");
  char buffer[64];
  memset(buffer, '#', sizeof buffer);
  uint32_t n = plat::ReadProfileString("S", nullptr, "", buffer, sizeof buffer, file);
  ASSERT_EQ(16u, n);
  EXPECT_EQ(0, memcmp(buffer, "server1\0server2\0\0", 17));
}

TEST_F(IniProfile, IntegersTakeTheLeadingNumber) {
  const std::string file = Write("e.ini",
                                 "[V]\n"
                                 "plain=31\n"
                                 "trailing=12abc\n"
                                 "negative=-5\n"
                                 "plus=+9\n"
                                 "text=abc\n"
                                 "empty=\n"
                                 "spaced =   77  \n");
  EXPECT_EQ(31u, plat::ReadProfileInt("V", "plain", 0, file));
  EXPECT_EQ(12u, plat::ReadProfileInt("V", "trailing", 0, file));
  EXPECT_EQ(static_cast<uint32_t>(-5), plat::ReadProfileInt("V", "negative", 0, file));
  EXPECT_EQ(9u, plat::ReadProfileInt("V", "plus", 0, file));
  EXPECT_EQ(0u, plat::ReadProfileInt("V", "text", 3, file));
  EXPECT_EQ(3u, plat::ReadProfileInt("V", "empty", 3, file));
  EXPECT_EQ(77u, plat::ReadProfileInt("v", "SPACED", 0, file));
  EXPECT_EQ(8u, plat::ReadProfileInt("V", "missing", 8, file));
  EXPECT_EQ(8u, plat::ReadProfileInt("V", "plain", 8, dir_.Path() + "absent.ini"));
}

}  // namespace
