#include "base/utf8.h"

#include <cstdint>
#include <vector>

namespace wtk {
namespace {

// Length in bytes of the valid UTF-8 sequence at s[i], and its code point; a byte that does
// not start a valid sequence has length 1 and the code point U+DC00 + byte (as a lone
// surrogate it cannot clash with a real character).
size_t Decode(std::string_view s, size_t i, char32_t& cp) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    auto cont = [&](size_t k) {
        return i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
    };
    auto cb = [&](size_t k) {
        return static_cast<char32_t>(static_cast<unsigned char>(s[i + k]) & 0x3F);
    };
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    if (b0 >= 0xC2 && b0 <= 0xDF && cont(1)) {
        cp = ((b0 & 0x1Fu) << 6) | cb(1);
        return 2;
    }
    if (b0 >= 0xE0 && b0 <= 0xEF && cont(1) && cont(2)) {
        const char32_t c = ((b0 & 0x0Fu) << 12) | (cb(1) << 6) | cb(2);
        if (c >= 0x800 && (c < 0xD800 || c > 0xDFFF)) {
            cp = c;
            return 3;
        }
    }
    if (b0 >= 0xF0 && b0 <= 0xF4 && cont(1) && cont(2) && cont(3)) {
        const char32_t c = ((b0 & 0x07u) << 18) | (cb(1) << 12) | (cb(2) << 6) | cb(3);
        if (c >= 0x10000 && c <= 0x10FFFF) {
            cp = c;
            return 4;
        }
    }
    cp = 0xDC00 + b0;
    return 1;
}

std::vector<size_t> Boundaries(std::string_view s) {
    std::vector<size_t> starts;
    char32_t cp = 0;
    for (size_t i = 0; i < s.size(); i += Decode(s, i, cp)) starts.push_back(i);
    return starts;
}

std::vector<char16_t> ToUtf16(std::string_view s) {
    std::vector<char16_t> out;
    char32_t cp = 0;
    for (size_t i = 0; i < s.size();) {
        i += Decode(s, i, cp);
        if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

}  // namespace

size_t Utf8Length(std::string_view s) {
    size_t n = 0;
    char32_t cp = 0;
    for (size_t i = 0; i < s.size(); i += Decode(s, i, cp)) ++n;
    return n;
}

std::string_view Utf8Right(std::string_view s, size_t n) {
    const auto starts = Boundaries(s);
    if (n >= starts.size()) return s;
    return s.substr(starts[starts.size() - n]);
}

std::string_view Utf8Left(std::string_view s, size_t n) {
    const auto starts = Boundaries(s);
    if (n >= starts.size()) return s;
    return s.substr(0, starts[n]);
}

std::string_view Utf8DropRight(std::string_view s, size_t n) {
    const auto starts = Boundaries(s);
    if (n >= starts.size()) return s.substr(0, 0);
    return s.substr(0, starts[starts.size() - n]);
}

int CompareUtf16(std::string_view a, std::string_view b) {
    const auto ua = ToUtf16(a);
    const auto ub = ToUtf16(b);
    for (size_t i = 0; i < ua.size() && i < ub.size(); ++i) {
        if (ua[i] != ub[i]) return ua[i] < ub[i] ? -1 : 1;
    }
    if (ua.size() == ub.size()) return 0;
    return ua.size() < ub.size() ? -1 : 1;
}

namespace {

bool IsControl(char32_t cp) {
    return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029;
}

}  // namespace

std::string PrintableName(std::string_view s) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(s.size());
    char32_t cp = 0;
    for (size_t i = 0; i < s.size();) {
        const size_t n = Decode(s, i, cp);
        if (n == 1 && cp >= 0xDC80) {  // a byte that is not UTF-8
            out += "\xEF\xBF\xBD";     // U+FFFD
        } else if (cp == '\n') {
            out += "\\n";
        } else if (cp == '\r') {
            out += "\\r";
        } else if (cp == '\t') {
            out += "\\t";
        } else if (cp < 0x20 || cp == 0x7F) {
            out += "\\x";
            out += kHex[cp >> 4];
            out += kHex[cp & 15];
        } else if (IsControl(cp)) {
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(cp >> shift) & 15];
        } else {
            out.append(s.substr(i, n));
        }
        i += n;
    }
    return out;
}

bool HasControlCharacter(std::string_view s) {
    char32_t cp = 0;
    for (size_t i = 0; i < s.size();) {
        const size_t n = Decode(s, i, cp);
        if (IsControl(cp)) return true;  // invalid bytes (U+DC80 ... U+DCFF here) are none
        i += n;
    }
    return false;
}

std::string_view FileNamePart(std::string_view path) {
    const auto pos = path.find_last_of('/');
    return pos == std::string_view::npos ? path : path.substr(pos + 1);
}

std::string_view DirectoryPart(std::string_view path) {
    const auto pos = path.find_last_of('/');
    return pos == std::string_view::npos ? path.substr(0, 0) : path.substr(0, pos + 1);
}

}  // namespace wtk
