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
// The file name after the last path separator.
std::string_view FileNamePart(std::string_view path);
// The directory part including its trailing separator ("" when there is none).
std::string_view DirectoryPart(std::string_view path);

}  // namespace wtk
