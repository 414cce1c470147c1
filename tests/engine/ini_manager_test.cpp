#include "engine/ini_manager.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

using testsupport::TempDir;
using testsupport::WriteFileText;

namespace {

TEST(IniManager, ListsStopAtTheFirstMissingOrEmptyValue) {
  TempDir dir;
  const std::string longValue(600, 'x');
  ASSERT_TRUE(WriteFileText(dir / "list.ini",
                            "[DOWNLOAD]\r\nserver1=http://a/\r\nserver2=http://b\r\nserver4=http://d\r\n"
                            "[GAPS]\r\nPOD1=5\r\nPOD2=\r\nPOD3=7\r\n"
                            "[LONG]\r\nv1=" + longValue + "\r\n"));
  CIniManager ini;
  ini.SetFile(dir.Path() + "list.ini", false);

  std::vector<std::string> list = {"kept"};
  EXPECT_TRUE(ini.GetStringList("download", "server", list));
  EXPECT_EQ((std::vector<std::string>{"kept", "http://a/", "http://b"}), list);

  list.clear();
  EXPECT_TRUE(ini.GetStringList("GAPS", "POD", list));
  EXPECT_EQ((std::vector<std::string>{"5"}), list);

  list.clear();
  EXPECT_FALSE(ini.GetStringList("DOWNLOAD", "POD", list));
  EXPECT_FALSE(ini.GetStringList("NOSECTION", "server", list));
  EXPECT_TRUE(list.empty());

  EXPECT_TRUE(ini.GetStringList("LONG", "v", list));
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ(longValue.substr(0, CIniManager::kMaxValue), list[0]);
}

TEST(IniManager, RelativeNamesAreTakenFromTheCurrentFolder) {
  TempDir dir;
  ASSERT_TRUE(WriteFileText(dir / "localinfo.dat", "[URL]\r\nCount=3\r\nEmpty=\r\n"));
  testsupport::ScopedCurrentDir inDir(dir.Path());
  CIniManager ini;
  ini.SetFile("localinfo.dat", true);
  EXPECT_EQ(3u, ini.GetInt("URL", "Count"));
  EXPECT_EQ(0u, ini.GetInt("URL", "Empty"));
  EXPECT_EQ(0u, ini.GetInt("URL", "Missing"));
  EXPECT_EQ("localinfo.dat", ini.Path().substr(ini.Path().size() - 13));
  EXPECT_EQ('\\', ini.Path()[ini.Path().size() - 14]);
}

}  // namespace
