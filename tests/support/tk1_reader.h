// A TK1 decoder written for the tests alone, straight from the file layout: 1024-byte header,
// lead minute record, counted minute records (each opens the next minute), click records of
// the minute opened last, and the end record. Big-endian integers throughout.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace wtk::test {

struct Tk1Record {
    char Kind = '?';     // 'L' lead minute, 'M' minute, 'C' click, 'E' end
    int32_t Minute = 0;  // minute number the record belongs to (a minute record: the one it opens)
    std::array<uint8_t, 16> b{};

    // Click fields.
    int32_t ClkTime5MuSecs() const { return (b[0] << 16) | (b[1] << 8) | b[2]; }
    int Ncyc() const { return b[3]; }
    int IPIpreMax() const { return b[5]; }
    int Pmax() const { return b[10]; }
};

struct Tk1File {
    std::vector<uint8_t> bytes;
    std::vector<Tk1Record> records;
    bool wellFormed = false;  // whole records, lead record first, end record last and only there

    uint32_t U(size_t offset, int n) const {
        uint32_t v = 0;
        for (int k = 0; k < n; ++k) v = (v << 8) | bytes.at(offset + static_cast<size_t>(k));
        return v;
    }
    int32_t StartMin() const { return static_cast<int32_t>(U(256, 4)); }
    int32_t LastLoggingMin() const { return static_cast<int32_t>(U(260, 4)); }
    int32_t MinuteCount() const { return static_cast<int32_t>(U(340, 3)); }

    // The record kinds as a string, e.g. "LMCCMME".
    std::string Kinds() const {
        std::string s;
        for (const auto& r : records) s += r.Kind;
        return s;
    }
    std::vector<Tk1Record> Clicks() const {
        std::vector<Tk1Record> c;
        for (const auto& r : records)
            if (r.Kind == 'C') c.push_back(r);
        return c;
    }
    int CountKind(char k) const {
        int n = 0;
        for (const auto& r : records) n += r.Kind == k;
        return n;
    }
};

inline Tk1File ReadTk1(const std::string& path) {
    Tk1File f;
    f.bytes = ReadFileBytes(path);
    if (f.bytes.size() < 1024) return f;
    const int32_t start = static_cast<int32_t>(f.U(256, 4));
    int32_t counted = 0;
    bool ok = (f.bytes.size() - 1024) % 16 == 0;
    for (size_t off = 1024; off + 16 <= f.bytes.size(); off += 16) {
        Tk1Record r;
        for (size_t k = 0; k < 16; ++k) r.b[k] = f.bytes[off + k];
        if (off == 1024) {
            r.Kind = 'L';
            ok = ok && r.b[0] == 254;
        } else if (r.b[0] == 255) {
            r.Kind = 'E';
            ok = ok && off + 16 == f.bytes.size();
        } else if (r.b[0] == 254) {
            r.Kind = 'M';
            ++counted;
        } else {
            r.Kind = 'C';
            ok = ok && r.ClkTime5MuSecs() < 12000000;
        }
        r.Minute = start + counted - 1;
        f.records.push_back(r);
    }
    f.wellFormed = ok && !f.records.empty() && f.records.back().Kind == 'E';
    return f;
}

}  // namespace wtk::test
