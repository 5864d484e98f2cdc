// One CSV field as RFC 4180 writes it: a field holding a comma, a quote or a line break is
// quoted, its quotes doubled.
#pragma once

#include <string>
#include <string_view>

namespace wtk {

inline std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace wtk
