#include "input/dir_search.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "base/utf8.h"

namespace wtk {
namespace {

// The names of a directory's entries other than "." and "..", in byte order; none when the
// directory cannot be read, with the system's error code in err (0 otherwise).
StringList SortedEntryNames(const std::string& dir, int& err) {
    StringList names;
    errno = 0;
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) {
        err = errno != 0 ? errno : EIO;
        return names;
    }
    errno = 0;
    while (const dirent* e = ::readdir(d)) {
        const std::string_view name = e->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
        errno = 0;
    }
    err = errno;  // a read that failed part of the way
    ::closedir(d);
    std::sort(names.begin(), names.end());  // std::string compares bytes as unsigned char
    return names;
}

void Skip(StringList* skipped, const std::string& path, const char* what, int err) {
    if (skipped != nullptr) skipped->push_back(path + what + std::strerror(err));
}

unsigned char AsciiUpper(unsigned char c) {
    return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

}  // namespace

bool EndsWithIgnoringCase(std::string_view s, std::string_view tail) {
    if (tail.size() > s.size()) return false;
    const std::string_view end = s.substr(s.size() - tail.size());
    for (size_t i = 0; i < tail.size(); ++i) {
        if (AsciiUpper(static_cast<unsigned char>(end[i])) !=
            AsciiUpper(static_cast<unsigned char>(tail[i]))) {
            return false;
        }
    }
    return true;
}

bool IsFileTypeListEmpty(const StringList* acceptedFileTypeList) {
    return acceptedFileTypeList == nullptr || acceptedFileTypeList->empty() ||
           acceptedFileTypeList->front().empty();
}

std::string JoinPath(std::string_view ParentDir, std::string_view Name) {
    std::string joined(ParentDir);
    if (joined.empty() || joined.back() != '/') joined += '/';
    joined += Name;
    return joined;
}

void GetFilesInDir(const std::string& Path, const StringList& acceptedFileTypeList,
                   StringList& fileListStr, StringList* skipped) {
    const bool acceptAll = IsFileTypeListEmpty(&acceptedFileTypeList);
    int err = 0;
    const StringList names = SortedEntryNames(Path, err);
    if (err != 0) Skip(skipped, Path, kNotSearched, err);
    for (const std::string& name : names) {
        const std::string full = JoinPath(Path, name);
        struct stat own {};
        if (::lstat(full.c_str(), &own) != 0) {
            if (errno == EACCES) {  // the directory can be read but not entered
                Skip(skipped, Path, kNotSearched, EACCES);
                break;
            }
            // A path too long to name, and the like; an entry that has just gone is no input.
            if (errno != ENOENT) Skip(skipped, full, kNotOpened, errno);
            continue;
        }
        struct stat target {};
        // Following links: a link to a directory is a directory here too; a link whose target
        // is missing has no size.
        const bool known = ::stat(full.c_str(), &target) == 0;
        if (!known && errno != ENOENT) Skip(skipped, full, kNotOpened, errno);
        if (known && S_ISDIR(target.st_mode)) continue;
        if (acceptAll) {
            fileListStr.push_back(full);
            continue;
        }
        for (const std::string& T : acceptedFileTypeList) {
            bool match = false;
            if (!T.empty() && T.back() == '*') {
                match = EndsWithIgnoringCase(Utf8DropRight(name, 1),
                                             std::string_view(T).substr(0, T.size() - 1));
            } else {
                match = known && EndsWithIgnoringCase(name, T) && target.st_size > 1000;
            }
            if (match) fileListStr.push_back(full);
        }
    }
}

StringList GetDirectoriesByIteration(const std::string& ParentDir) {
    StringList result;
    int err = 0;
    for (const std::string& name : SortedEntryNames(ParentDir, err)) {
        const std::string full = JoinPath(ParentDir, name);
        struct stat own {};
        // Not following links: a link to a directory is not descended.
        if (::lstat(full.c_str(), &own) != 0 || !S_ISDIR(own.st_mode)) continue;
        result.push_back(full);
        StringList below = GetDirectoriesByIteration(full);
        result.insert(result.end(), std::make_move_iterator(below.begin()),
                      std::make_move_iterator(below.end()));
    }
    return result;
}

StringList GetAllFileNamesInSubDirsFromDir(const std::string& ParentDir,
                                           const StringList& acceptedFileTypeList,
                                           StringList* skipped) {
    // Every directory that GetDirectoriesByIteration reads is read once more here, so the
    // files' side reports what could not be read.
    StringList result;
    GetFilesInDir(ParentDir, acceptedFileTypeList, result, skipped);
    for (const std::string& d : GetDirectoriesByIteration(ParentDir)) {
        GetFilesInDir(d, acceptedFileTypeList, result, skipped);
    }
    return result;
}

}  // namespace wtk
