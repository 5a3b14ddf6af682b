#include "text/codepage.h"

#include <gtest/gtest.h>

#include <string>

namespace tv::text {
namespace {

struct TCase {
  TextCodePage page;
  const char* bytes;
  const char* utf8;
};

// Each row worked from the code page's chart: the letter blocks' ends, the
// characters outside them, and a byte the page leaves unassigned.
TEST(ToUtf8, EveryPageMapsItsBlocksAndTheCharactersBetween) {
  const TCase cases[] = {
      {TextCodePage::Cp866, "A\x80\xAF", "A\xD0\x90\xD0\xBF"},                      // A, А, п
      {TextCodePage::Cp866, "\xB0\xDF", "\xE2\x96\x91\xE2\x96\x80"},                // ░ ▀
      {TextCodePage::Cp866, "\xE0\xEF", "\xD1\x80\xD1\x8F"},                        // р я
      {TextCodePage::Cp866, "\xF0\xFC\xFF", "\xD0\x81\xE2\x84\x96\xC2\xA0"},        // Ё № nbsp
      {TextCodePage::Iso88595, "\xA0\xA1\xAD", "\xC2\xA0\xD0\x81\xC2\xAD"},         // nbsp Ё shy
      {TextCodePage::Iso88595, "\xB0\xEF", "\xD0\x90\xD1\x8F"},                     // А я
      {TextCodePage::Iso88595, "\xF0\xFD", "\xE2\x84\x96\xC2\xA7"},                 // № §
      {TextCodePage::Win1251, "\xC0\xFF", "\xD0\x90\xD1\x8F"},                      // А я
      {TextCodePage::Win1251, "\x88\xA8\xB9", "\xE2\x82\xAC\xD0\x81\xE2\x84\x96"},  // € Ё №
      {TextCodePage::Win1251, "\x98", "\xEF\xBF\xBD"},                              // unassigned
  };
  for (const TCase& c : cases)
    EXPECT_EQ(ToUtf8(c.bytes, c.page), c.utf8)
        << "page " << static_cast<int>(c.page) << ": " << c.bytes;
  EXPECT_EQ(ToUtf8(std::string("a\0b", 3), TextCodePage::Cp866), std::string("a\0b", 3))
      << "NUL kept";
}

}  // namespace
}  // namespace tv::text
