// File names are UTF-8 byte strings. Lengths and "the last n characters" count Unicode code
// points; a byte that is not part of a valid UTF-8 sequence counts as one character. The bytes
// themselves are never changed, so a path still opens the file it came from.
#pragma once

#include <string>
#include <string_view>

namespace wtk {

// Number of characters (code points, invalid bytes counted singly).
size_t Utf8Length(std::string_view s);
// The last n characters (all of s when it is shorter).
std::string_view Utf8Right(std::string_view s, size_t n);
// The first n characters (all of s when it is shorter).
std::string_view Utf8Left(std::string_view s, size_t n);
// s without its last n characters (empty when it has n or fewer).
std::string_view Utf8DropRight(std::string_view s, size_t n);
// Ordinal comparison in UTF-16 code units: <0, 0, >0.
int CompareUtf16(std::string_view a, std::string_view b);
// A name as text outputs show it (lines of stdout, memos, side files): every control character
// becomes a visible escape, so that a name can neither break a line nor shift a tab-separated
// column: \n, \r, \t, the other C0 controls and DEL as \xHH, the C1 controls and the Unicode
// line and paragraph separators as \uHHHH. A byte that is not part of valid UTF-8 becomes
// U+FFFD, so the output stays UTF-8. Everything else, backslashes included, is kept.
std::string PrintableName(std::string_view s);
// True when s holds a control character as PrintableName escapes it.
bool HasControlCharacter(std::string_view s);
// The file name after the last path separator.
std::string_view FileNamePart(std::string_view path);
// The directory part including its trailing separator ("" when there is none).
std::string_view DirectoryPart(std::string_view path);

}  // namespace wtk
