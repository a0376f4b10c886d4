#include "Cp1251.h"

#include <gtest/gtest.h>

namespace velt {
namespace {

TEST(Cp1251, CyrillicRoundTrip) {
  const std::string utf8 = "ПС 110 кВ «Северная» — Ёё №5";
  const std::string cp = Utf8ToCp1251(utf8);
  EXPECT_EQ(cp,
            "\xCF\xD1 110 \xEA\xC2 \xAB\xD1\xE5\xE2\xE5\xF0\xED\xE0\xFF\xBB \x97 \xA8\xB8 \xB9"
            "5");
  EXPECT_EQ(Cp1251ToUtf8(cp), utf8);
}

TEST(Cp1251, WhatCannotBeConvertedBecomesQuestionMark) {
  EXPECT_EQ(Utf8ToCp1251("a漢b"), "a?b");
  EXPECT_EQ(Utf8ToCp1251("a\xD0"
                         "b"),
            "a?b");                                // lead byte without its continuation
  EXPECT_EQ(Utf8ToCp1251("x\xFF\xFEy"), "x??y");   // bytes that never occur in UTF-8
  EXPECT_EQ(Utf8ToCp1251("end\xE2\x80"), "end?");  // cut off at the end
  EXPECT_EQ(Cp1251ToUtf8("a\x98z"), "a?z");        // the one undefined Windows-1251 byte
  std::string out = "old";
  EXPECT_FALSE(Utf8ToCp1251Strict("a漢b", out));
  EXPECT_TRUE(Utf8ToCp1251Strict("Ток", out));
  EXPECT_EQ(out, "\xD2\xEE\xEA");
}

}  // namespace
}  // namespace velt
