// Decoding a TK1 file for people and for analysis tools: the header fields and one line per
// record, or one CSV row per click with its absolute date and time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace wtk::cli {

// Calendar text of a minute number (minutes since 1899-12-30 00:00) plus microseconds:
// "yyyy-mm-dd hh:mm:ss.ffffff".
std::string IsoDateTime(int64_t minute, int64_t microseconds);

// 4000 / IPI with three decimals ("" for an IPI of 0): the frequency in kHz of a period given
// in 250 ns units.
std::string KiloHertz(uint8_t ipi);

// Writes the decoding of the file at path to out (CR LF line ends). Problems with the file's
// structure (too short, a partial record, no end record, data after it) are reported on err,
// one line each. Returns 0 for a sound file, 1 otherwise.
int DumpTK1(const std::string& path, bool csv, std::FILE* out, std::FILE* err);

}  // namespace wtk::cli
