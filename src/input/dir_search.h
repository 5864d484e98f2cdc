// Searching a directory tree for recordings.
//
// Paths are byte strings with "/" as separator. The entries of one directory are taken in byte
// order of their names, so results do not depend on the file system; the files of a directory
// come before those of its sub-directories, which are visited in pre-order. Symbolic links to
// directories are not descended (no loops); a symbolic link to a file counts as a file of its
// target's size. A directory that cannot be read contributes nothing; the searches that take a
// list of skipped inputs add a text to it for each such directory ("<dir> not searched: <the
// system's text>") and each entry that cannot be examined, such as one whose path is too long
// ("<path> not opened: <the system's text>"). Entries that vanish while they are searched, and
// links whose target is missing, are no inputs and are not reported.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace wtk {

using StringList = std::vector<std::string>;

// The file-type entries of directory mode: names ending ".wav" or ".flac" in any case, over
// 1000 bytes.
inline constexpr std::string_view kWavFileType = ".WAV";
inline constexpr std::string_view kFlacFileType = ".FLAC";

// What follows the path in the texts of skipped inputs, before the system's error text.
inline constexpr const char* kNotSearched = " not searched: ";
inline constexpr const char* kNotOpened = " not opened: ";

// Whether s ends with tail, ASCII letters compared without their case.
bool EndsWithIgnoringCase(std::string_view s, std::string_view tail);

// True when the list is absent, has no entries, or its first entry is empty.
bool IsFileTypeListEmpty(const StringList* acceptedFileTypeList);

// ParentDir joined to Name, with no second separator when ParentDir ends in one.
std::string JoinPath(std::string_view ParentDir, std::string_view Name);

// Appends the full paths of the matching files directly in Path to fileListStr. With an empty
// type list every non-directory entry matches. Otherwise each type T is tested in order and the
// path is appended once per matching T: a T ending in "*" matches a name whose text without its
// last character ends with T less the "*"; any other T matches a name ending in T of a file
// larger than 1000 bytes. Both tests ignore ASCII letter case.
void GetFilesInDir(const std::string& Path, const StringList& acceptedFileTypeList,
                   StringList& fileListStr, StringList* skipped = nullptr);

// Full paths of all sub-directories of ParentDir at every depth, in pre-order.
StringList GetDirectoriesByIteration(const std::string& ParentDir);

// All matching files of a directory tree: those directly in ParentDir first, then those of each
// sub-directory in pre-order.
StringList GetAllFileNamesInSubDirsFromDir(const std::string& ParentDir,
                                           const StringList& acceptedFileTypeList,
                                           StringList* skipped = nullptr);

}  // namespace wtk
