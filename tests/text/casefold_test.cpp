#include "text/casefold.h"

#include <gtest/gtest.h>

namespace tv::text {
namespace {

TEST(CaseFoldTest, FoldsAsciiAndCyrillicCapitalsOnly) {
  EXPECT_EQ(FoldCase1251("Abc-XYZ 09"), "abc-xyz 09");
  // АЯ Ё Ї І -> ая ё ї і
  EXPECT_EQ(FoldCase1251("\xC0\xDF\xA8\xAF\xB2"), "\xE0\xFF\xB8\xBF\xB3");
  // Small letters and symbols stay.
  EXPECT_EQ(FoldCase1251("\xE0\xFF\xB8\xA9\xB9"), "\xE0\xFF\xB8\xA9\xB9");
}

TEST(CaseFoldTest, FoldingIsIdempotentForEveryByte) {
  for (int c = 0; c < 256; ++c) {
    char once = FoldChar1251(static_cast<char>(c));
    EXPECT_EQ(FoldChar1251(once), once) << c;
  }
}

}  // namespace
}  // namespace tv::text
