#include "files/linelists.h"

#include <gtest/gtest.h>

#include <thread>

namespace tv {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

TEST(ValueTableTest, ReplacingAKeyKeepsItsPlaceAndTakesTheNewText) {
  TValueTable t;
  t.Set("Apple", "1");
  t.Set("pear", "2");
  t.Set("APPLE", "3");
  EXPECT_EQ(t.Entries(), (Entries{{"APPLE", "3"}, {"pear", "2"}}));
  std::string v;
  EXPECT_TRUE(t.Get("aPpLe", v));
  EXPECT_EQ(v, "3");
  EXPECT_FALSE(t.Get("plum", v));
  EXPECT_EQ(v, "3");  // untouched on a miss
}

TEST(ValueTableTest, CyrillicKeysFoldToo) {
  TValueTable t;
  t.Set("\xCC\xDB\xCB\xCE", "soap");  // МЫЛО
  std::string v;
  EXPECT_TRUE(t.Get("\xEC\xFB\xEB\xEE", v));  // мыло
  EXPECT_EQ(v, "soap");
  t.Set("\xA8", "yo");  // Ё and ё are one key
  t.Set("\xB8", "yo2");
  EXPECT_EQ(t.Size(), 2u);
}

TEST(ValueTableTest, ClearEmptiesTheIndexToo) {
  TValueTable t;
  t.Set("k", "v");
  t.Clear();
  std::string v;
  EXPECT_FALSE(t.Get("k", v));
  t.Set("K", "w");
  EXPECT_EQ(t.Entries(), (Entries{{"K", "w"}}));
}

TEST(ValueTableTest, ConcurrentWritersAndReadersSeeWholeEntries) {
  TValueTable t;
  std::thread writer([&] {
    for (int i = 0; i < 2000; ++i) t.Set("key" + std::to_string(i % 50), std::string(20, 'a' + i % 26));
  });
  for (int i = 0; i < 2000; ++i) {
    std::string v;
    if (t.Get("KEY" + std::to_string(i % 50), v)) {
      ASSERT_EQ(v.size(), 20u);
      ASSERT_EQ(v, std::string(20, v[0]));
    }
  }
  writer.join();
  EXPECT_EQ(t.Size(), 50u);
}

}  // namespace
}  // namespace tv
