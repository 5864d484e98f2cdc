// RIFF/WAVE files built byte by byte for reader tests: chunks in any order, with sizes that may
// lie and odd bodies with or without their pad byte.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace wtk::test {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(Bytes& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
inline void PutText(Bytes& b, const std::string& text) {
    b.insert(b.end(), text.begin(), text.end());
}

struct Chunk {
    Chunk(std::string i, Bytes b, std::optional<uint32_t> d = {}, bool p = true)
        : id(std::move(i)), body(std::move(b)), declared(d), pad(p) {}
    std::string id;
    Bytes body;
    std::optional<uint32_t> declared;  // the size field, when it lies
    bool pad;                          // a pad byte after an odd body
};

// The chunks one after the other, each with its 8-byte header.
inline Bytes Chunks(const std::vector<Chunk>& chunks) {
    Bytes b;
    for (const Chunk& c : chunks) {
        PutText(b, c.id);
        Put32(b, c.declared.value_or(static_cast<uint32_t>(c.body.size())));
        b.insert(b.end(), c.body.begin(), c.body.end());
        if (c.pad && c.body.size() % 2 == 1) b.push_back(0);
    }
    return b;
}

inline Bytes Riff(const std::vector<Chunk>& chunks, const char* magic = "RIFF") {
    Bytes b(magic, magic + 4);
    Put32(b, 0);
    PutText(b, "WAVE");
    const Bytes body = Chunks(chunks);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

// The 16 basic bytes of a fmt chunk.
inline Bytes Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    Bytes b;
    Put16(b, tag);
    Put16(b, channels);
    Put32(b, rate);
    Put32(b, rate * channels * bits / 8);
    Put16(b, static_cast<uint16_t>(channels * bits / 8));
    Put16(b, bits);
    return b;
}

}  // namespace wtk::test
