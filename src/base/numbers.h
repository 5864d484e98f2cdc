// Number conversions shared by every subsystem, so that texts and rounding come out the same
// on every machine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace wtk {

// Round to the nearest integer, ties to even (the rounding used everywhere in the engine).
int64_t RoundHalfEven(double x);

// Integer text: optional sign and decimal digits only, within the 32-bit signed range.
std::optional<int32_t> ParseInt32(std::string_view text);

// Real text: optional sign, digits with at most one ".", optional exponent; parsed to double
// and then rounded to float32.
std::optional<float> ParseFloat32(std::string_view text);

// The scaler as the minute log shows it: rounded once to 5 decimals (values of 1 or more to 5
// significant digits) and written with exactly 5 decimals: 0.001 -> "0.00100".
std::string FormatScaler(float value);

// Appends the decimal digits of v, with leading zeros to at least minDigits digits, after a "-"
// for a negative value: (7, 2) -> "07", (-7, 3) -> "-007".
void AppendZeroPadded(std::string& text, int64_t v, int minDigits);

// The value of the n decimal digits at pos of text (n at most 9), or -1 where text is shorter
// or holds another character there.
int32_t DigitsAt(std::string_view text, size_t pos, size_t n);

}  // namespace wtk
