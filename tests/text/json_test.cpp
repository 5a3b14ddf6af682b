#include "text/json.h"

#include <gtest/gtest.h>

#include <string>

namespace tv::text {
namespace {

TEST(JsonQuote, EscapesQuoteBackslashAndControlBytesOnly) {
  EXPECT_EQ(JsonQuote(""), "\"\"");
  EXPECT_EQ(JsonQuote("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(JsonQuote(std::string("\0\x01\n\x1f", 4)), "\"\\u0000\\u0001\\u000a\\u001f\"");
  // DEL, a slash and UTF-8 pass as they are: readers take them unescaped.
  EXPECT_EQ(JsonQuote("\x7f/\xD0\x90"), "\"\x7f/\xD0\x90\"");
}

TEST(JsonObject, MembersInTheOrderAddedOnOneLine) {
  JsonObject inner;
  inner.Str("k\"ey", "v\n");
  JsonObject o;
  o.Int("n", -3).Int("big", 4294967296).Bool("yes", true).Bool("no", false).Null("none");
  o.Raw("list", "[1,2]").Raw("inner", inner.Text());
  EXPECT_EQ(o.Text(),
            "{\"n\":-3,\"big\":4294967296,\"yes\":true,\"no\":false,\"none\":null,"
            "\"list\":[1,2],\"inner\":{\"k\\\"ey\":\"v\\u000a\"}}");
  EXPECT_EQ(JsonObject().Text(), "{}");
}

}  // namespace
}  // namespace tv::text
