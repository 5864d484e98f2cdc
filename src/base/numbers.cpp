#include "base/numbers.h"

#include <charconv>
#include <cmath>

namespace wtk {

int64_t RoundHalfEven(double x) {
    // nearbyint follows the default rounding mode, which is round-to-nearest, ties to even.
    return static_cast<int64_t>(std::nearbyint(x));
}

std::optional<int32_t> ParseInt32(std::string_view text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) return std::nullopt;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > 2147483648LL) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
    return static_cast<int32_t>(value);
}

std::optional<float> ParseFloat32(std::string_view text) {
    // Check the shape first: [sign] digits [. digits] [(e|E) [sign] digits], at least one digit
    // in the mantissa. from_chars alone would accept "inf", "nan" and hexadecimal forms.
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t digits = 0, dots = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            ++digits;
        } else if (c == '.') {
            if (++dots > 1) return std::nullopt;
        } else {
            break;
        }
    }
    if (digits == 0) return std::nullopt;
    if (i < text.size()) {
        if (text[i] != 'e' && text[i] != 'E') return std::nullopt;
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        size_t expDigits = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) ++expDigits;
        if (expDigits == 0 || i != text.size()) return std::nullopt;
    }
    // from_chars does not take a leading '+'.
    std::string_view body = text;
    if (!body.empty() && body.front() == '+') body.remove_prefix(1);
    double value = 0;
    const auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), value);
    if (ec != std::errc() || end != body.data() + body.size()) return std::nullopt;
    const float single = static_cast<float>(value);
    if (!std::isfinite(single)) return std::nullopt;
    return single;
}

std::string FormatScaler(float value) {
    // to_chars rounds correctly from the exact binary value and ignores the locale.
    double shown = value;  // float to double is exact
    char buf[64];
    if (std::fabs(shown) >= 1.0) {
        // Five significant digits, rounded once from the exact value.
        const auto r =
            std::to_chars(buf, buf + sizeof buf, shown, std::chars_format::scientific, 4);
        std::from_chars(buf, r.ptr, shown);
    }
    const auto r = std::to_chars(buf, buf + sizeof buf, shown, std::chars_format::fixed, 5);
    return std::string(buf, r.ptr);
}

void AppendZeroPadded(std::string& text, int64_t v, int minDigits) {
    char buf[24];
    // The magnitude in unsigned arithmetic, which holds that of the most negative value too.
    const uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    const auto r = std::to_chars(buf, buf + sizeof buf, magnitude);
    if (v < 0) text += '-';
    for (auto n = r.ptr - buf; n < minDigits; ++n) text += '0';
    text.append(buf, r.ptr);
}

int32_t DigitsAt(std::string_view text, size_t pos, size_t n) {
    if (pos > text.size() || n > text.size() - pos) return -1;
    int32_t v = 0;
    for (size_t k = pos; k < pos + n; ++k) {
        if (text[k] < '0' || text[k] > '9') return -1;
        v = v * 10 + (text[k] - '0');
    }
    return v;
}

}  // namespace wtk
