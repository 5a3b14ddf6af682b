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

TEST(TextStoreTest, KeptTextsStayWhereTheyAreAsTheStoreGrows) {
  TTextStore store;
  std::vector<std::string_view> views;
  std::vector<std::string> texts;
  for (int i = 0; i < 3000; ++i) {
    texts.push_back(std::string(static_cast<size_t>(i % 40), static_cast<char>('a' + i % 26)) +
                    std::to_string(i));
    views.push_back(store.Keep(texts.back()));
  }
  views.push_back(store.Keep(std::string(100000, 'z')));  // larger than a block
  std::string adopted = "taken over";
  char* whole = store.Adopt(std::move(adopted));
  views.push_back(store.Keep("after"));
  for (size_t i = 0; i < texts.size(); ++i) ASSERT_EQ(views[i], texts[i]) << i;
  EXPECT_EQ(views[texts.size()], std::string(100000, 'z'));
  EXPECT_EQ(std::string_view(whole, 10), "taken over");
  EXPECT_EQ(views.back(), "after");
}

TEST(ValueTableTest, ManyKeysKeepTheirEntriesThroughTheIndexGrowing) {
  TValueTable t;
  std::string backing = "viewed keyVIEWED VALUE";
  t.SetView(std::string_view(backing).substr(0, 10), std::string_view(backing).substr(10));
  for (int i = 0; i < 5000; ++i) t.Set("Key" + std::to_string(i), std::to_string(i * 7));
  t.Set("VIEWED KEY", "replaced");
  EXPECT_EQ(t.Size(), 5001u);
  std::string v;
  for (int i = 0; i < 5000; ++i) {
    ASSERT_TRUE(t.Get("kEY" + std::to_string(i), v)) << i;
    ASSERT_EQ(v, std::to_string(i * 7));
  }
  EXPECT_TRUE(t.Get("viewed key", v));
  EXPECT_EQ(v, "replaced");
  EXPECT_EQ(t.Entries().front(), (std::pair<std::string, std::string>{"VIEWED KEY", "replaced"}));
  EXPECT_FALSE(t.Get("Key5000", v));
}

}  // namespace
}  // namespace tv
