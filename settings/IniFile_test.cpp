#include "IniFile.h"

#include <gtest/gtest.h>

#include <string>

namespace velt {
namespace {

TEST(IniDocument, ReadsValuesTheWayTheWindowsProfileFunctionsDo) {
  const std::string text =
      "; comment\r\n"
      "Orphan=before any section\r\n"
      "[TForm1]\r\n"
      "Spaced=   padded value  \r\n"
      "Equals=a=b=c\r\n"
      "Semicolon=x;y #z\r\n"
      "Quoted=\"C:\\Program Files\\a.xls\"\r\n"
      "OneQuote=\"half\r\n"
      "Dup=first\r\n"
      "Dup=second\r\n"
      "NormPos(1920x1080)=1,2,3,4\r\n"
      "  lower = case  \r\n"
      "Empty=\r\n"
      "[Other]\n"  // a line ending written by hand on Linux
      "Dup=other\n"
      "[TForm1]\r\n"
      "Late=1\r\n";
  const auto doc = IniDocument::Parse(text);
  struct Case {
    const char* section;
    const char* key;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"TForm1", "Spaced", "padded value"},
      {"TForm1", "Equals", "a=b=c"},
      {"TForm1", "Semicolon", "x;y #z"},
      {"TForm1", "Quoted", "C:\\Program Files\\a.xls"},
      {"TForm1", "OneQuote", "\"half"},
      {"TForm1", "Dup", "first"},
      {"TForm1", "NormPos(1920x1080)", "1,2,3,4"},
      {"tform1", "LOWER", "case"},
      {"TForm1", "Empty", ""},
      {"Other", "Dup", "other"},
      {"TForm1", "Late", "1"},  // a repeated section still counts
      {"TForm1", "Orphan", std::nullopt},
      {"TForm1", "Missing", std::nullopt},
      {"Nowhere", "Dup", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(doc.Value(c.section, c.key), c.expected) << c.section << "/" << c.key;
  }
}

TEST(IniDocument, UnchangedDocumentWritesBackTheSameCrlfBytes) {
  const std::string text =
      "; kept comment\r\n[A]\r\nk=v\r\njunk line without equals\r\n[bad header\r\n\r\n"
      "[B]\r\nx = 1 \r\n; trailing comment\r\n";
  EXPECT_EQ(IniDocument::Parse(text).Serialize(), text);
  EXPECT_EQ(IniDocument::Parse("[A]\nk=v\n").Serialize(), "[A]\r\nk=v\r\n");
}

TEST(IniDocument, HeaderWithoutClosingBracketDoesNotSwallowTheNextLine) {
  auto doc = IniDocument::Parse("[A]\r\n[broken\r\nk=v\r\n");
  EXPECT_EQ(doc.Value("A", "k"), "v");
  EXPECT_FALSE(doc.HasSection("broken"));
}

TEST(IniDocument, SetValueReplacesTheFirstOccurrenceAndLeavesTheRest) {
  auto doc = IniDocument::Parse("[S]\r\nDup=1\r\nDup=2\r\n; note\r\nOther=x\r\n");
  ASSERT_TRUE(doc.SetValue("S", "Dup", "new"));
  EXPECT_EQ(doc.Serialize(), "[S]\r\nDup=new\r\nDup=2\r\n; note\r\nOther=x\r\n");
}

TEST(IniDocument, NewKeysGoToTheEndOfTheirSectionAndNewSectionsToTheEnd) {
  auto doc = IniDocument::Parse("[S]\r\na=1\r\n\r\n[T]\r\nb=2\r\n");
  ASSERT_TRUE(doc.SetValue("S", "c", "3"));
  ASSERT_TRUE(doc.SetValue("U", "d", "4"));
  EXPECT_EQ(doc.Serialize(), "[S]\r\na=1\r\nc=3\r\n\r\n[T]\r\nb=2\r\n\r\n[U]\r\nd=4\r\n");
}

TEST(IniDocument, RefusesWhatWouldBreakTheLineStructure) {
  auto doc = IniDocument::Parse("[S]\r\na=1\r\n");
  const std::string before = doc.Serialize();
  EXPECT_FALSE(doc.SetValue("S", "a", "x\r\n[S]\r\nEdit1_Text=evil"));
  EXPECT_FALSE(doc.SetValue("S", "a", "x\ny"));
  EXPECT_FALSE(doc.SetValue("S", "a", std::string("x\0y", 3)));
  EXPECT_FALSE(doc.SetValue("S", "k=x", "1"));
  EXPECT_FALSE(doc.SetValue("S]x", "k", "1"));
  EXPECT_FALSE(doc.SetValue("S", "", "1"));
  EXPECT_EQ(doc.Serialize(), before);
}

TEST(IniDocument, EraseSectionRemovesEveryCopyAndKeepsItsPlace) {
  auto doc =
      IniDocument::Parse("[A]\r\n[M]\r\nItem_0=x\r\nUser_0=u\r\n\r\n[B]\r\n[M]\r\nItem_5=y\r\n");
  const auto at = doc.EraseSection("m");
  ASSERT_EQ(at, 1u);
  doc.InsertSection("M", at);
  ASSERT_TRUE(doc.SetValue("M", "Item_0", "z"));
  EXPECT_EQ(doc.Serialize(), "[A]\r\n[M]\r\nItem_0=z\r\n\r\n[B]\r\n");
}

TEST(IniDocument, RemoveKeyRemovesEveryOccurrence) {
  auto doc = IniDocument::Parse("[S]\r\nk=1\r\nj=2\r\nK=3\r\n[T]\r\nk=4\r\n");
  doc.RemoveKey("S", "k");
  EXPECT_EQ(doc.Serialize(), "[S]\r\nj=2\r\n[T]\r\nk=4\r\n");
}

TEST(IniEncoding, Utf8IsValidatedStrictly) {
  struct Case {
    const char* name;
    std::string bytes;
    bool valid;
  };
  const Case cases[] = {
      {"ascii", "abc", true},
      {"cyrillic", "Сервер ТМ", true},
      {"four bytes", "\xF0\x9F\x98\x80", true},
      {"windows-1251", "\xD1\xE5\xF0\xE2\xE5\xF0", false},
      {"overlong slash", "\xC0\xAF", false},
      {"overlong three", "\xE0\x80\xAF", false},
      {"surrogate", "\xED\xA0\x80", false},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", false},
      {"truncated", "\xD0", false},
      {"stray continuation", "\x80", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsValidUtf8(c.bytes), c.valid) << c.name;
}

TEST(IniEncoding, DecodesWindows1251AndDropsTheUtf8Mark) {
  EXPECT_EQ(DecodeIniBytes("\xD1\xE5\xF0\xE2\xE5\xF0 \xD2\xCC"), "Сервер ТМ");
  EXPECT_EQ(DecodeIniBytes("\xB9 \xA8\xB8"), "№ Ёё");
  EXPECT_EQ(DecodeIniBytes("\xEF\xBB\xBF[TForm1]"), "[TForm1]");
  // 0x98 has no character in Windows-1251; the rest must survive it.
  EXPECT_EQ(DecodeIniBytes("a\x98\xC0"),
            "a\xEF\xBF\xBD"
            "А");
}

}  // namespace
}  // namespace velt
