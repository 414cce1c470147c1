#include "engine/server_selection.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

using Urls = std::vector<std::string>;

const Urls kThree = {"http://s1", "http://s2", "http://s3"};

TEST(ServerWeight, LeadingDecimalInteger) {
  EXPECT_EQ(12, ParseServerWeight("12abc"));
  EXPECT_EQ(0, ParseServerWeight("abc"));
  EXPECT_EQ(0, ParseServerWeight(""));
  EXPECT_EQ(-3, ParseServerWeight("-3"));
  EXPECT_EQ(7, ParseServerWeight(" 7"));
  EXPECT_EQ(2147483647, ParseServerWeight("99999999999"));
  EXPECT_EQ(-2147483647 - 1, ParseServerWeight("-99999999999"));
}

TEST(ServerSelection, DrawsFollowTheTimeAndTheWeights) {
  // Weights 1, 2, 3: r = now mod 6 + 1 picks s1 for r = 1, s2 for 2..3 and
  // s3 for 4..6; each later draw runs over the servers still left.
  const Urls weights = {"1", "2", "3"};
  struct Case {
    uint64_t now;
    Urls expected;
  };
  const Case cases[] = {
      {0, {"http://s1", "http://s2", "http://s3"}},  // r 1; then [2,3] r 1
      {3, {"http://s3", "http://s1", "http://s2"}},  // r 4; then [1,2] r 1
      {7, {"http://s2", "http://s3", "http://s1"}},  // r 2; then [1,3] r 4
      {1000000004, {"http://s2", "http://s1", "http://s3"}},  // r 3; then [1,3] r 1
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.now);
    EXPECT_EQ(c.expected, SelectDownloadServers(kThree, weights, c.now));
    // The same time always gives the same order.
    EXPECT_EQ(c.expected, SelectDownloadServers(kThree, weights, c.now));
  }
}

TEST(ServerSelection, OverOnePeriodEachServerLeadsAsOftenAsItsWeight) {
  const Urls servers = {"a", "b", "c", "d"};
  const Urls weights = {"3", "0", "5", "1"};
  std::map<std::string, int> firsts;
  for (uint64_t now = 0; now < 9; ++now) ++firsts[SelectDownloadServers(servers, weights, now).front()];
  EXPECT_EQ(3, firsts["a"]);
  EXPECT_EQ(0, firsts["b"]);
  EXPECT_EQ(5, firsts["c"]);
  EXPECT_EQ(1, firsts["d"]);
}

TEST(ServerSelection, ServersWithoutAPositiveWeightComeLastAndAreNeverLost) {
  // s3 has the only positive weight: it leads whatever the time. The other
  // two (0 and negative) share the remaining draws as if each weighed 1.
  const Urls weights = {"0", "-4", "2"};
  EXPECT_EQ((Urls{"http://s3", "http://s1", "http://s2"}), SelectDownloadServers(kThree, weights, 0));
  EXPECT_EQ((Urls{"http://s3", "http://s2", "http://s1"}), SelectDownloadServers(kThree, weights, 1));
  EXPECT_EQ((Urls{"http://s3", "http://s2", "http://s1"}), SelectDownloadServers(kThree, weights, 5));

  // A weight list shorter than the server list: the servers past its end
  // weigh nothing while a weighted one is left.
  for (uint64_t now = 0; now < 6; ++now) {
    SCOPED_TRACE(now);
    EXPECT_EQ("http://s2", SelectDownloadServers(kThree, {"0", "9"}, now).front());
  }

  // Every weight zero, or every weight negative: all servers still come out.
  for (const Urls& none : {Urls{"0", "0", "0"}, Urls{"-1", "-1", "-2"}, Urls{"x"}}) {
    const Urls chosen = SelectDownloadServers(kThree, none, 2);
    EXPECT_EQ(3u, std::set<std::string>(chosen.begin(), chosen.end()).size());
  }
  EXPECT_TRUE(SelectDownloadServers({}, {"4"}, 5).empty());
}

}  // namespace
