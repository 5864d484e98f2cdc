#include "base/utf8.h"

#include <gtest/gtest.h>

namespace wtk {
namespace {

TEST(Utf8, CountsCodePointsAndInvalidBytesSingly) {
    EXPECT_EQ(Utf8Length("abc"), 3u);
    EXPECT_EQ(Utf8Length("\xC3\xA9t\xC3\xA9"), 3u);  // été
    EXPECT_EQ(Utf8Length("\xF0\x9F\x90\xAC"), 1u);   // one astral character
    EXPECT_EQ(Utf8Length("a\xFF"
                         "b\xC3"),
              4u);                              // invalid bytes count one each
    EXPECT_EQ(Utf8Length("\xE0\x80\x80"), 3u);  // overlong form is invalid
}

TEST(Utf8, TakesAndDropsWholeCharacters) {
    EXPECT_EQ(Utf8DropRight("d\xC3\xA9.wav", 4), "d\xC3\xA9");
    EXPECT_EQ(Utf8DropRight("x.wa", 4), "");
    EXPECT_EQ(Utf8DropRight("abc", 4), "");
    EXPECT_EQ(Utf8Right("\xC3\xA9"
                        "abc",
                        3),
              "abc");
    EXPECT_EQ(Utf8Right("\xC3\xA9"
                        "abc",
                        4),
              "\xC3\xA9"
              "abc");
    EXPECT_EQ(Utf8Right("ab", 16), "ab");
    EXPECT_EQ(Utf8Left("\xC3\xA9"
                       "abc",
                       2),
              "\xC3\xA9"
              "a");
}

TEST(Utf8, ComparesInUtf16CodeUnits) {
    EXPECT_LT(CompareUtf16("B", "a"), 0);  // capitals first
    EXPECT_EQ(CompareUtf16("LOC1", "LOC1"), 0);
    EXPECT_LT(CompareUtf16("LOC", "LOC1"), 0);
    // An astral character (surrogates D800..) sorts before U+FF01 in UTF-16 order, though its
    // code point is larger.
    EXPECT_LT(CompareUtf16("\xF0\x9F\x90\xAC", "\xEF\xBC\x81"), 0);
}

TEST(Utf8, NamesForTextOutputsShowControlsAsEscapesAndBadBytesAsReplacement) {
    const std::pair<std::string, std::string> rows[] = {
        {"plain \xC3\xA9t\xC3\xA9 \\ back\\slash", "plain \xC3\xA9t\xC3\xA9 \\ back\\slash"},
        {"a\nb\rc\td", "a\\nb\\rc\\td"},
        {std::string("nul\0x", 5) + "\x01\x1F\x7F", "nul\\x00x\\x01\\x1F\\x7F"},
        {"c1\xC2\x85 ls\xE2\x80\xA8 ps\xE2\x80\xA9", "c1\\u0085 ls\\u2028 ps\\u2029"},
        {"bad\xFF\xC3(\xE0\x80\x80",
         "bad\xEF\xBF\xBD\xEF\xBF\xBD(\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"\xF0\x9F\x90\xAC", "\xF0\x9F\x90\xAC"},
    };
    for (const auto& [name, shown] : rows) {
        EXPECT_EQ(PrintableName(name), shown) << name;
        EXPECT_EQ(PrintableName(shown), shown) << "escaping twice changes nothing";
        EXPECT_EQ(HasControlCharacter(name), shown.find("\\x") != std::string::npos ||
                                                 shown.find("\\u") != std::string::npos ||
                                                 shown.find("\\n") != std::string::npos)
            << name;
    }
}

TEST(Utf8, SplitsPathsAtTheLastSeparator) {
    EXPECT_EQ(FileNamePart("/a/b/LOC1.20230517143000.wav"), "LOC1.20230517143000.wav");
    EXPECT_EQ(FileNamePart("plain.wav"), "plain.wav");
    EXPECT_EQ(DirectoryPart("/out/x.TK1"), "/out/");
    EXPECT_EQ(DirectoryPart("x.TK1"), "");
}

}  // namespace
}  // namespace wtk
