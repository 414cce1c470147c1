#include "launcher/browser_features.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(BrowserFeatures, EmulationValueFromTheMajorVersion) {
  struct Case {
    const char* version;
    uint32_t value;  // 0: no value at all
  };
  const Case cases[] = {
      {"11.0.9600.18376", 11000}, {"10.0.9200.16521", 10000}, {"9.11.9600.18376", 9000}, {"8.0.7601.17514", 8000},
      {"7.0.6000.16386", 7000},   {"11", 11000},              {"6.0.2900.2180", 0},      {"12.0", 0},
      {"", 0},                    {"x11.0", 0},               {"110.0", 0},              {"11x.0", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    auto v = launcher::BrowserEmulationValue(c.version);
    EXPECT_EQ(c.value != 0, v.has_value());
    if (v) {
      EXPECT_EQ(c.value, *v);
    }
  }
}

TEST(BrowserFeatures, ServiceVersionWinsOverTheCompatibilityVersion) {
  EXPECT_EQ("11.0.9600.1", launcher::InstalledBrowserVersion("11.0.9600.1", "9.11.9600.1"));
  EXPECT_EQ("8.0.1", launcher::InstalledBrowserVersion("", "8.0.1"));
}

}  // namespace
