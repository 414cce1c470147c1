#include "platform/ansi_text.h"

#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "platform/path.h"
#include "tests/support/test_support.h"

namespace {

// Korean names as clients store them, in code page 949: "쌰" is 9B 58 and
// "썄" is 9B 78, so lower-casing the trail byte 'X' makes another
// character; "맵" is B8 CA, "똠" 8C 63.
constexpr char kSsya[] = "\x9B\x58";
constexpr char kOther[] = "\x9B\x78";

#define SKIP_UNLESS_CP949()                                                                                  \
  if (plat::AnsiCodePage() != 949)                                                                           \
  GTEST_SKIP() << "the system code page is " << plat::AnsiCodePage() << "; the run of this binary with "     \
               << "LC_ALL=ko_KR.UTF-8 (ctest *_cp949) covers it"

TEST(AnsiText, Cp949LowerCasingKeepsDoubleByteCharacters) {
  SKIP_UNLESS_CP949();
  struct Case {
    std::string text;
    std::string lower;
  };
  const Case cases[] = {
      {"Data\\Version.INI", "data\\version.ini"},
      {std::string("\xB8\xCA\\") + kSsya + "DATA.PAK", std::string("\xB8\xCA\\") + kSsya + "data.pak"},
      {std::string("A") + kSsya + "B" + kOther + "C", std::string("a") + kSsya + "b" + kOther + "c"},
      {"\x8C\x63\x8C\x63.TXT", "\x8C\x63\x8C\x63.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.lower, plat::LowerAnsi(c.text));
  }
}

// The POSIX backend finds names without regard to letter case as the
// engine lower-cases them: "쌰.dat" must not be taken for "썄.dat".
TEST(AnsiText, Cp949NamesResolveOnlyToThemselves) {
  SKIP_UNLESS_CP949();
  testsupport::TempDir dir;
  const std::string mine = dir.Path() + kSsya + ".DAT";
  ASSERT_TRUE(testsupport::WriteFileText(mine, "mine"));
  EXPECT_TRUE(plat::FileExists(dir.Path() + kSsya + ".dat"));
  EXPECT_FALSE(plat::FileExists(dir.Path() + kOther + ".dat"));
  EXPECT_FALSE(plat::FileExists(dir.Path() + kOther + ".DAT"));
}

}  // namespace
