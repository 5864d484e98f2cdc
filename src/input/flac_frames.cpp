#include "input/flac_frames.h"

#include <array>
#include <bit>
#include <cstring>
#include <utility>

#if defined(__x86_64__)
#include <cpuid.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace wtk {
namespace {

// CRC-8 of frame headers (polynomial x^8 + x^2 + x + 1, most significant bit first, from 0).
constexpr std::array<uint8_t, 256> MakeCrc8() {
    std::array<uint8_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int b = 0; b < 8; ++b) c = (c & 0x80) ? ((c << 1) ^ 0x07) : (c << 1);
        t[i] = static_cast<uint8_t>(c);
    }
    return t;
}
constexpr std::array<uint8_t, 256> kCrc8 = MakeCrc8();

// CRC-16 of whole frames (polynomial x^16 + x^15 + x^2 + 1, most significant bit first, from
// 0), eight bytes a step: table k holds a byte's CRC followed by k zero bytes.
using Crc16Tables = std::array<std::array<uint16_t, 256>, 8>;
constexpr Crc16Tables MakeCrc16() {
    Crc16Tables t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i << 8;
        for (int b = 0; b < 8; ++b) c = (c & 0x8000) ? ((c << 1) ^ 0x8005) : (c << 1);
        t[0][i] = static_cast<uint16_t>(c);
    }
    for (int k = 1; k < 8; ++k)
        for (uint32_t i = 0; i < 256; ++i) {
            const uint16_t prev = t[k - 1][i];
            t[k][i] = static_cast<uint16_t>((prev << 8) ^ t[0][prev >> 8]);
        }
    return t;
}
constexpr Crc16Tables kCrc16 = MakeCrc16();

uint8_t Crc8(const uint8_t* p, size_t n) {
    uint8_t c = 0;
    for (size_t i = 0; i < n; ++i) c = kCrc8[c ^ p[i]];
    return c;
}

// The CRC-16 of n bytes after bytes whose CRC-16 is c.
uint16_t Crc16Continued(const uint8_t* p, size_t n, uint32_t c) {
    for (; n >= 8; n -= 8, p += 8) {
        c = kCrc16[7][p[0] ^ (c >> 8)] ^ kCrc16[6][p[1] ^ (c & 0xFF)] ^ kCrc16[5][p[2]] ^
            kCrc16[4][p[3]] ^ kCrc16[3][p[4]] ^ kCrc16[2][p[5]] ^ kCrc16[1][p[6]] ^ kCrc16[0][p[7]];
    }
    for (; n > 0; --n, ++p) c = ((c << 8) ^ kCrc16[0][(c >> 8) ^ *p]) & 0xFFFF;
    return static_cast<uint16_t>(c);
}

uint16_t Crc16Plain(const uint8_t* p, size_t n) {
    return Crc16Continued(p, n, 0);
}

#if defined(__x86_64__)
// x^k modulo the CRC-16 polynomial.
constexpr int64_t XPowerModCrc16(int k) {
    uint32_t r = 1;
    for (int i = 0; i < k; ++i) {
        r <<= 1;
        if (r & 0x10000) r ^= 0x18005;
    }
    return r;
}

// The CRC-16 by carry-less multiplication, where the processor has it (PCLMULQDQ, SSSE3). With a
// start of 0 a CRC is that of the bytes read as one polynomial, first bit highest; leading zero
// bytes change nothing. So the bytes, 16 at a time, are folded into 128 bits of the same
// remainder: a 128-bit block a followed by 128 bits more is a x^128 + next, and a's halves times
// x^192 and x^128 taken modulo the polynomial (16 bits each) leave 80 bits. Four blocks are folded
// side by side, 64 bytes a step, then into one; the table finishes the 16 bytes left and the
// last bytes.
#define WTK_CLMUL [[gnu::target("pclmul,ssse3")]]

// 16 bytes in order from the top: the first byte the highest.
WTK_CLMUL inline __m128i LoadFromTop(const uint8_t* p) {
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), reverse);
}

// a x^bits + b, for k = (x^(bits + 64), x^bits) modulo the polynomial.
WTK_CLMUL inline __m128i Fold(__m128i a, __m128i k, __m128i b) {
    return _mm_xor_si128(
        _mm_xor_si128(_mm_clmulepi64_si128(a, k, 0x11), _mm_clmulepi64_si128(a, k, 0x00)), b);
}

WTK_CLMUL uint16_t Crc16Clmul(const uint8_t* p, size_t n) {
    if (n < 128) return Crc16Plain(p, n);
    const __m128i by16 = _mm_set_epi64x(XPowerModCrc16(192), XPowerModCrc16(128));
    const __m128i by64 = _mm_set_epi64x(XPowerModCrc16(576), XPowerModCrc16(512));
    __m128i a0 = LoadFromTop(p), a1 = LoadFromTop(p + 16);
    __m128i a2 = LoadFromTop(p + 32), a3 = LoadFromTop(p + 48);
    p += 64, n -= 64;
    for (; n >= 64; p += 64, n -= 64) {
        a0 = Fold(a0, by64, LoadFromTop(p));
        a1 = Fold(a1, by64, LoadFromTop(p + 16));
        a2 = Fold(a2, by64, LoadFromTop(p + 32));
        a3 = Fold(a3, by64, LoadFromTop(p + 48));
    }
    __m128i a = Fold(Fold(Fold(a0, by16, a1), by16, a2), by16, a3);
    for (; n >= 16; p += 16, n -= 16) a = Fold(a, by16, LoadFromTop(p));
    // Back to bytes, the first byte the highest.
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    alignas(16) uint8_t folded[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(folded), _mm_shuffle_epi8(a, reverse));
    return Crc16Continued(p, n, Crc16Plain(folded, 16));
}
#undef WTK_CLMUL
#endif

inline uint64_t LoadBigEndian64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;
}

// The low w bits of v (1 <= w <= 31) as a two's complement number.
inline int32_t Signed(uint32_t v, int w) {
    return static_cast<int32_t>(v << (32 - w)) >> (32 - w);
}

// Bits of a frame, most significant first, from a 64-bit buffer whose unread bits stand at the
// top. A refill loads eight bytes at once; it never loads past the bytes given plus the padding,
// and when it would, what was read already lies past the bytes given (the frame goes on).
struct BitReader {
    const uint8_t* start;
    const uint8_t* next;   // the next byte to load
    const uint8_t* limit;  // the last byte eight may be loaded from
    uint64_t buf = 0;      // unread bits at the top; below them the next byte's first bits
    int avail = 0;         // unread bits in buf (0 ... 63)

    // Bits read since start.
    uint64_t Position() const { return static_cast<uint64_t>(next - start) * 8 - avail; }

    // At least 56 unread bits, unless the load would pass the padding.
    bool Refill() {
        if (next > limit) return false;
        buf |= LoadBigEndian64(next) >> avail;
        next += (63 - avail) >> 3;
        avail |= 56;
        return true;
    }
    // At least k (<= 56) unread bits.
    bool Need(int k) { return avail >= k || Refill(); }
    // The next k (0 ... 32) bits, after Need(k).
    uint32_t Take(int k) {
        const uint32_t v = static_cast<uint32_t>((buf >> 1) >> (63 - k));
        buf <<= k;
        avail -= k;
        return v;
    }
};

// One Rice code whose quotient runs past the bits at hand (a long run of zeros, or bits still to
// load), parameter k; false when the value would leave 32 bits or the bytes end.
bool ReadLongRiceCode(BitReader& r, int k, uint64_t* u) {
    uint64_t q = 0;
    const uint64_t maxQ = 0xFFFFFFFFu >> k;
    for (;;) {
        if (r.avail < 56 && !r.Refill()) return false;
        const int z = std::countl_zero(r.buf);
        if (z < r.avail) {
            q += z;
            r.buf <<= z + 1;
            r.avail -= z + 1;
            break;
        }
        q += r.avail;
        r.buf <<= r.avail;
        r.avail = 0;
        if (q > maxQ) return false;
    }
    if (q > maxQ || !r.Need(k)) return false;
    *u = (q << k) | r.Take(k);
    return true;
}

// Rice-coded values of one partition, parameter K, into out[0, count) as they are coded (the
// sign in the lowest bit) plus 2^K, modulo 2^32: the one that ends a code's zeros is left in,
// as it comes with the code's last K bits, and Unfold takes it away with the sign. False when
// the bytes end or a value would leave 32 bits.
template <int K>
[[gnu::always_inline]] inline bool RiceCodes(BitReader& r, uint32_t* out, uint32_t count) {
    uint64_t buf = r.buf;
    int avail = r.avail;
    const uint8_t* next = r.next;
    uint64_t wide = 0;
    // Loads are of whole bytes up to 63 bits: refilled only when fewer than this are left, a
    // load brings several bytes; a code with more zeros than fit goes the long way.
    constexpr int kLow = K + 24 < 56 ? K + 24 : 56;
    // Codes come kGroup to a load, read as if the 56 or more bits a load leaves held them all,
    // so that within a group neither the bits at hand nor a refill need checking; if they did
    // not (too many zeros), the group is read again code by code. Groups are sized for codes of
    // about three zeros, beyond which a fitting parameter leaves few. Within a load, a value
    // keeps far inside 32 bits.
    constexpr uint32_t kGroup = K <= 24 ? 56 / (K + 4) : 1;
    uint32_t i = 0;
    while (i < count) {
        // A group or a code loads at most once, at most 7 bytes on: these many cannot load past
        // the padding, unless a code goes the long way (which ends the run).
        ptrdiff_t room = r.limit - next;
        if (room < 0) {
            r.next = next, r.buf = buf, r.avail = avail;
            return false;
        }
        if constexpr (kGroup > 1) {
            ptrdiff_t groups = std::min<ptrdiff_t>((count - i) / kGroup, room / 8 + 1);
            bool allShort = true;  // no group read again
            for (; groups > 0; --groups) {
                const uint64_t buf0 = buf;
                const int avail0 = avail;
                const uint8_t* next0 = next;
                buf |= LoadBigEndian64(next) >> avail;
                next += (63 - avail) >> 3;
                avail |= 56;
                uint32_t* o = out + i;
                int zerosSum = 0;
#pragma GCC unroll 16
                for (uint32_t j = 0; j < kGroup; ++j) {
                    // 64 for no one at all: the sum tells, the shift is kept defined.
                    const int zeros = std::countl_zero(buf);
                    zerosSum += zeros;
                    // The one ending the zeros is the top bit, kept.
                    const uint32_t u = static_cast<uint32_t>((buf << (zeros & 63)) >> (63 - K));
                    // The code's K + 1 fixed bits are shifted out while the zeros are counted,
                    // so that from one code to the next waits only the count and one shift.
                    buf = (buf << (K + 1)) << (zeros & 63);
                    o[j] = u + (static_cast<uint32_t>(zeros) << K);
                }
                const int len = zerosSum + static_cast<int>(kGroup) * (K + 1);
                if (len > avail) [[unlikely]] {
                    buf = buf0, avail = avail0, next = next0;
                    allShort = false;
                    break;
                }
                avail -= len;
                i += kGroup;
            }
            if (allShort && count - i >= kGroup) continue;
            room = r.limit - next;
            if (room < 0) {
                r.next = next, r.buf = buf, r.avail = avail;
                return false;
            }
        }
        // Code by code: the codes of a group with a long one, the last codes, or every code
        // when the parameter leaves no room for groups.
        const ptrdiff_t codes =
            kGroup > 1 ? std::min<ptrdiff_t>(kGroup, room / 8 + 1) : room / 8 + 1;
        const uint32_t end = i + static_cast<uint32_t>(std::min<ptrdiff_t>(count - i, codes));
        for (; i < end; ++i) {
            if (avail < kLow) {
                buf |= LoadBigEndian64(next) >> avail;
                next += (63 - avail) >> 3;
                avail |= 56;
            }
            // No one within the bits at hand (64 zeros for none at all) goes the long way.
            const int zeros = std::countl_zero(buf);
            const int len = zeros + 1 + K;
            if (len > avail) [[unlikely]] {
                r.next = next, r.buf = buf, r.avail = avail;
                uint64_t u;
                if (!ReadLongRiceCode(r, K, &u)) return false;
                next = r.next, buf = r.buf, avail = r.avail;
                out[i++] = static_cast<uint32_t>(u) + (1u << K);
                break;
            }
            // The one ending the zeros is the top bit of buf << zeros, kept. Below K = 27 the at
            // most 62 zeros keep the value within 32 bits.
            const uint64_t u = ((buf << zeros) >> (63 - K)) + (static_cast<uint64_t>(zeros) << K);
            if constexpr (K > 26) wide |= (u - (uint64_t{1} << K)) >> 32;
            buf <<= len;
            avail -= len;
            out[i] = static_cast<uint32_t>(u);
        }
    }
    r.next = next, r.buf = buf, r.avail = avail;
    return wide == 0;
}

using RiceReader = bool (*)(BitReader&, uint32_t*, uint32_t);

template <int K>
bool ReadRice(BitReader& r, uint32_t* out, uint32_t count) {
    return RiceCodes<K>(r, out, count);
}

template <int... K>
constexpr std::array<RiceReader, sizeof...(K)> RiceReaders(std::integer_sequence<int, K...>) {
    return {&ReadRice<K>...};
}

#if defined(__x86_64__)
// The same with the shifts and the count of leading zeros of BMI2 and LZCNT, where the processor
// has them: fewer instructions a value.
template <int K>
[[gnu::target("bmi,bmi2,lzcnt")]] bool ReadRiceBmi(BitReader& r, uint32_t* out, uint32_t count) {
    return RiceCodes<K>(r, out, count);
}

template <int... K>
constexpr std::array<RiceReader, sizeof...(K)> RiceReadersBmi(std::integer_sequence<int, K...>) {
    return {&ReadRiceBmi<K>...};
}

// Asked of cpuid itself, not of __builtin_cpu_supports as the filter kernels are chosen: clang's
// builtin knows no "lzcnt".
bool HasBmi2AndLzcnt() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    const bool bmi = (b & (1u << 3)) && (b & (1u << 8));
    if (!__get_cpuid(0x80000001, &a, &b, &c, &d)) return false;
    return bmi && (c & (1u << 5));
}

bool HasClmul() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    return __get_cpuid(1, &a, &b, &c, &d) && (c & (1u << 1)) && (c & (1u << 9));
}
#endif

// Rice parameters 0 ... 30, each with its shifts known: the plain readers, those with BMI2 and
// LZCNT, and the ones in use (the latter where the processor has them).
const std::array<RiceReader, 31> kPlainRiceReaders =
    RiceReaders(std::make_integer_sequence<int, 31>{});
// The CRC-16 of frames: by the table, or by carry-less multiplication where the processor has it.
using Crc16Function = uint16_t (*)(const uint8_t*, size_t);
#if defined(__x86_64__)
const bool kHasBmi = HasBmi2AndLzcnt();
const std::array<RiceReader, 31> kBmiRiceReaders =
    RiceReadersBmi(std::make_integer_sequence<int, 31>{});
const std::array<RiceReader, 31>* riceReaders = kHasBmi ? &kBmiRiceReaders : &kPlainRiceReaders;
const bool kHasClmul = HasClmul();
Crc16Function crc16 = kHasClmul ? &Crc16Clmul : &Crc16Plain;
#else
const bool kHasBmi = false;
const std::array<RiceReader, 31>* riceReaders = &kPlainRiceReaders;
const bool kHasClmul = false;
Crc16Function crc16 = &Crc16Plain;
#endif

// Coded values plus `bias` to residuals in place (coded value u is residual u / 2, or
// -(u + 1) / 2 when odd); returns the bitwise or of the coded values.
uint32_t Unfold(uint32_t* v, uint32_t n, uint32_t bias) {
    uint32_t all = 0;
    uint32_t i = 0;
#if defined(__SSE2__)
    // The sign mask is the lowest bit moved to the top and spread down.
    __m128i acc = _mm_setzero_si128();
    const __m128i b = _mm_set1_epi32(static_cast<int>(bias));
    for (; i + 8 <= n; i += 8) {
        __m128i* p = reinterpret_cast<__m128i*>(v + i);
        const __m128i x = _mm_sub_epi32(_mm_loadu_si128(p), b);
        const __m128i y = _mm_sub_epi32(_mm_loadu_si128(p + 1), b);
        acc = _mm_or_si128(acc, _mm_or_si128(x, y));
        _mm_storeu_si128(
            p, _mm_xor_si128(_mm_srli_epi32(x, 1), _mm_srai_epi32(_mm_slli_epi32(x, 31), 31)));
        _mm_storeu_si128(
            p + 1, _mm_xor_si128(_mm_srli_epi32(y, 1), _mm_srai_epi32(_mm_slli_epi32(y, 31), 31)));
    }
    acc = _mm_or_si128(acc, _mm_shuffle_epi32(acc, 0x4E));
    acc = _mm_or_si128(acc, _mm_shuffle_epi32(acc, 0xB1));
    all = static_cast<uint32_t>(_mm_cvtsi128_si32(acc));
#endif
    for (; i < n; ++i) {
        const uint32_t u = v[i] - bias;
        all |= u;
        v[i] = (u >> 1) ^ (0u - (u & 1));
    }
    return all;
}

#if defined(__x86_64__)
// The same sixteen at a time with AVX2, where the processor has it.
[[gnu::target("avx2")]] uint32_t UnfoldAvx2(uint32_t* v, uint32_t n, uint32_t bias) {
    __m256i acc = _mm256_setzero_si256();
    const __m256i b = _mm256_set1_epi32(static_cast<int>(bias));
    uint32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        __m256i* p = reinterpret_cast<__m256i*>(v + i);
        const __m256i x = _mm256_sub_epi32(_mm256_loadu_si256(p), b);
        const __m256i y = _mm256_sub_epi32(_mm256_loadu_si256(p + 1), b);
        acc = _mm256_or_si256(acc, _mm256_or_si256(x, y));
        _mm256_storeu_si256(p, _mm256_xor_si256(_mm256_srli_epi32(x, 1),
                                                _mm256_srai_epi32(_mm256_slli_epi32(x, 31), 31)));
        _mm256_storeu_si256(p + 1,
                            _mm256_xor_si256(_mm256_srli_epi32(y, 1),
                                             _mm256_srai_epi32(_mm256_slli_epi32(y, 31), 31)));
    }
    __m128i all = _mm_or_si128(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
    all = _mm_or_si128(all, _mm_shuffle_epi32(all, 0x4E));
    all = _mm_or_si128(all, _mm_shuffle_epi32(all, 0xB1));
    for (; i < n; ++i) {
        const uint32_t u = v[i] - bias;
        all = _mm_or_si128(all, _mm_cvtsi32_si128(static_cast<int>(u)));
        v[i] = (u >> 1) ^ (0u - (u & 1));
    }
    return static_cast<uint32_t>(_mm_cvtsi128_si32(all));
}
#endif

// Unfold as the processor does it best.
using UnfoldFunction = uint32_t (*)(uint32_t*, uint32_t, uint32_t);
#if defined(__x86_64__)
bool HasAvx2() {
    __builtin_cpu_init();  // it may not have run yet while globals are initialized
    return __builtin_cpu_supports("avx2");
}
const bool kHasAvx2 = HasAvx2();
UnfoldFunction unfold = kHasAvx2 ? &UnfoldAvx2 : &Unfold;
#else
const bool kHasAvx2 = false;
UnfoldFunction unfold = &Unfold;
#endif

// The residual of a FIXED or LPC subframe into out[order, blockSize). *all gets the bitwise or of
// every residual with its sign folded into the lowest bit (residual r as 2r, or -2r - 1).
bool ReadResidual(BitReader& r, uint32_t* out, uint32_t blockSize, uint32_t order, uint32_t* all) {
    if (!r.Need(6)) return false;
    const uint32_t method = r.Take(2);
    if (method > 1) return false;
    const uint32_t partitionOrder = r.Take(4);
    const int paramBits = method == 0 ? 4 : 5;
    const uint32_t escape = method == 0 ? 15 : 31;
    const uint32_t perPartition = blockSize >> partitionOrder;
    if ((perPartition << partitionOrder) != blockSize || perPartition < order) return false;
    uint32_t at = order;
    *all = 0;
    for (uint32_t p = 0; p < (1u << partitionOrder); ++p) {
        const uint32_t count = p == 0 ? perPartition - order : perPartition;
        if (!r.Need(paramBits)) return false;
        const uint32_t param = r.Take(paramBits);
        if (param == escape) {
            if (!r.Need(5)) return false;
            const int width = static_cast<int>(r.Take(5));
            if (width == 0) {
                std::memset(out + at, 0, count * sizeof(uint32_t));
            } else {
                for (uint32_t i = 0; i < count; ++i) {
                    if (!r.Need(width)) return false;
                    // Coded as the Rice values are.
                    const int32_t v = Signed(r.Take(width), width);
                    out[at + i] = v < 0 ? static_cast<uint32_t>(-2 * int64_t{v} - 1)
                                        : static_cast<uint32_t>(2 * v);
                }
            }
            *all |= unfold(out + at, count, 0);
        } else {
            if (!(*riceReaders)[param](r, out + at, count)) return false;
            *all |= unfold(out + at, count, 1u << param);
        }
        at += count;
    }
    return true;
}

// FIXED prediction in place: s[i] += the polynomial of the order's previous samples; every
// sample must fit w bits.
template <int Order>
bool RestoreFixed(int32_t* s, uint32_t n, int w) {
    uint64_t bad = 0;
    const int64_t half = int64_t{1} << (w - 1);
    for (uint32_t i = Order; i < n; ++i) {
        int64_t v = s[i];
        if constexpr (Order == 1) v += s[i - 1];
        if constexpr (Order == 2) v += 2 * int64_t{s[i - 1]} - s[i - 2];
        if constexpr (Order == 3) v += 3 * (int64_t{s[i - 1]} - s[i - 2]) + s[i - 3];
        if constexpr (Order == 4)
            v += 4 * (int64_t{s[i - 1]} + s[i - 3]) - 6 * int64_t{s[i - 2]} - s[i - 4];
        bad |= static_cast<uint64_t>(v + half) >> w;
        s[i] = static_cast<int32_t>(v);
    }
    return bad == 0;
}

// LPC prediction in place, the sum exact in 64 bits; every sample must fit w bits. The last
// samples are kept at hand rather than read back, and the newest one's product is added last:
// from one sample to the next waits only a multiplication, an addition and the shift.
template <int Order>
bool RestoreLpcFixedOrder(int32_t* s, uint32_t n, const int32_t* coef, int shift, int w) {
    uint64_t bad = 0;
    const int64_t half = int64_t{1} << (w - 1);
    int64_t c[Order];
    int64_t last[Order];  // last[j] = s[i - 1 - j]
#pragma GCC unroll 32
    for (int j = 0; j < Order; ++j) c[j] = coef[j], last[j] = s[Order - 1 - j];
    for (uint32_t i = Order; i < n; ++i) {
        int64_t older = 0;
#pragma GCC unroll 32
        for (int j = Order - 1; j > 0; --j) older += c[j] * last[j];
        const int64_t v = s[i] + ((older + c[0] * last[0]) >> shift);
        bad |= static_cast<uint64_t>(v + half) >> w;
#pragma GCC unroll 32
        for (int j = Order - 1; j > 0; --j) last[j] = last[j - 1];
        s[i] = static_cast<int32_t>(v);
        last[0] = s[i];
    }
    return bad == 0;
}

bool RestoreLpc(int32_t* s, uint32_t n, uint32_t order, const int32_t* coef, int shift, int w) {
    switch (order) {
#define WTK_LPC_ORDER(k) \
    case k:              \
        return RestoreLpcFixedOrder<k>(s, n, coef, shift, w);
        WTK_LPC_ORDER(1)
        WTK_LPC_ORDER(2)
        WTK_LPC_ORDER(3)
        WTK_LPC_ORDER(4)
        WTK_LPC_ORDER(5)
        WTK_LPC_ORDER(6)
        WTK_LPC_ORDER(7)
        WTK_LPC_ORDER(8)
        WTK_LPC_ORDER(9)
        WTK_LPC_ORDER(10)
        WTK_LPC_ORDER(11)
        WTK_LPC_ORDER(12)
        WTK_LPC_ORDER(16)
        WTK_LPC_ORDER(32)
#undef WTK_LPC_ORDER
        default:
            break;
    }
    uint64_t bad = 0;
    const int64_t half = int64_t{1} << (w - 1);
    for (uint32_t i = order; i < n; ++i) {
        int64_t sum = 0;
        for (uint32_t j = 0; j < order; ++j) sum += int64_t{coef[j]} * s[i - 1 - j];
        const int64_t v = s[i] + (sum >> shift);
        bad |= static_cast<uint64_t>(v + half) >> w;
        s[i] = static_cast<int32_t>(v);
    }
    return bad == 0;
}

// n numbers of w bits (verbatim samples, warm-up samples).
bool ReadSigned(BitReader& r, int32_t* out, uint32_t n, int w) {
    for (uint32_t i = 0; i < n; ++i) {
        if (!r.Need(w)) return false;
        out[i] = Signed(r.Take(w), w);
    }
    return true;
}

// One subframe of `bits` bits a sample into out[0, blockSize), wasted bits restored.
bool ReadSubframe(BitReader& r, int32_t* out, uint32_t blockSize, int bits) {
    if (!r.Need(8)) return false;
    const uint32_t head = r.Take(8);
    if (head & 0x80) return false;
    const uint32_t type = (head >> 1) & 0x3F;
    int wasted = 0;
    if (head & 1) {
        // k - 1 zeros and a one.
        for (wasted = 1;; ++wasted) {
            if (wasted >= bits || !r.Need(1)) return false;
            if (r.Take(1)) break;
        }
    }
    const int w = bits - wasted;
    if (w <= 0) return false;
    if (type == 0) {
        if (!r.Need(w)) return false;
        const int32_t v = Signed(r.Take(w), w);
        for (uint32_t i = 0; i < blockSize; ++i) out[i] = v;
    } else if (type == 1) {
        if (!ReadSigned(r, out, blockSize, w)) return false;
    } else if (type >= 8 && type <= 12) {
        const uint32_t order = type - 8;
        if (order > blockSize || !ReadSigned(r, out, order, w)) return false;
        uint32_t residuals = 0;
        if (!ReadResidual(r, reinterpret_cast<uint32_t*>(out), blockSize, order, &residuals))
            return false;
        bool ok = true;
        switch (order) {
            case 0:
                // The samples are the residuals: a folded value below 2^w is one that fits.
                ok = (residuals >> w) == 0;
                break;
            case 1:
                ok = RestoreFixed<1>(out, blockSize, w);
                break;
            case 2:
                ok = RestoreFixed<2>(out, blockSize, w);
                break;
            case 3:
                ok = RestoreFixed<3>(out, blockSize, w);
                break;
            default:
                ok = RestoreFixed<4>(out, blockSize, w);
                break;
        }
        if (!ok) return false;
    } else if (type >= 32) {
        const uint32_t order = type - 31;
        if (order > blockSize || !ReadSigned(r, out, order, w)) return false;
        if (!r.Need(9)) return false;
        const uint32_t precisionCode = r.Take(4);
        if (precisionCode == 15) return false;
        const int precision = static_cast<int>(precisionCode) + 1;
        const int shift = Signed(r.Take(5), 5);
        if (shift < 0) return false;
        int32_t coef[32];
        for (uint32_t j = 0; j < order; ++j) {
            if (!r.Need(precision)) return false;
            coef[j] = Signed(r.Take(precision), precision);
        }
        uint32_t residuals = 0;
        if (!ReadResidual(r, reinterpret_cast<uint32_t*>(out), blockSize, order, &residuals))
            return false;
        if (!RestoreLpc(out, blockSize, order, coef, shift, w)) return false;
    } else {
        return false;
    }
    if (wasted > 0) {
        for (uint32_t i = 0; i < blockSize; ++i)
            out[i] = static_cast<int32_t>(static_cast<uint32_t>(out[i]) << wasted);
    }
    return true;
}

constexpr uint32_t kRates[12] = {0,     88200, 176400, 192000, 8000,  16000,
                                 22050, 24000, 32000,  44100,  48000, 96000};
constexpr uint32_t kSampleBits[8] = {0, 8, 12, 0, 16, 20, 24, 32};

enum ChannelCoding : uint32_t { kLeftSide = 8, kRightSide = 9, kMidSide = 10 };

}  // namespace

FlacFrameDecoder::FlacFrameDecoder(const FlacStreamInfo& info) : info_(info) {
    takes_ = info.BitsPerSample >= 4 && info.BitsPerSample <= 24 && info.Channels >= 1 &&
             info.Channels <= 8 && info.MinBlockSize >= 1 &&
             info.MinBlockSize <= info.MaxBlockSize && info.MaxBlockSize <= 65535;
    if (takes_) channels_.assign(info.Channels, std::vector<int32_t>(info.MaxBlockSize));
}

FlacFrameDecoder::Result FlacFrameDecoder::Decode(const uint8_t* data, size_t n, size_t* used) {
    *used = 0;
    if (!takes_) return Result::Refused;

    // The header, a byte at a time: a byte past n means the frame goes on past the bytes given.
    size_t at = 0;
    uint32_t byte = 0;
#define WTK_NEXT_BYTE                         \
    do {                                      \
        if (at >= n) return Result::NeedMore; \
        byte = data[at++];                    \
    } while (false)

    WTK_NEXT_BYTE;
    if (byte != 0xFF) return Result::Refused;
    WTK_NEXT_BYTE;
    if ((byte & 0xFE) != 0xF8) return Result::Refused;
    const bool variable = (byte & 1) != 0;
    WTK_NEXT_BYTE;
    const uint32_t sizeCode = byte >> 4;
    const uint32_t rateCode = byte & 15;
    if (sizeCode == 0 || rateCode == 15) return Result::Refused;
    WTK_NEXT_BYTE;
    const uint32_t coding = byte >> 4;
    const uint32_t bitsCode = (byte >> 1) & 7;
    if ((byte & 1) != 0 || coding > kMidSide) return Result::Refused;
    if (coding < kLeftSide ? coding + 1 != info_.Channels : info_.Channels != 2)
        return Result::Refused;
    if (bitsCode != 0 && kSampleBits[bitsCode] != info_.BitsPerSample) return Result::Refused;

    // The frame or sample number, coded as UTF-8 is (up to 36 bits in 7 bytes).
    WTK_NEXT_BYTE;
    uint64_t number = 0;
    int more = 0;
    if (byte < 0x80) {
        number = byte;
    } else if ((byte & 0xE0) == 0xC0) {
        number = byte & 0x1F, more = 1;
    } else if ((byte & 0xF0) == 0xE0) {
        number = byte & 0x0F, more = 2;
    } else if ((byte & 0xF8) == 0xF0) {
        number = byte & 0x07, more = 3;
    } else if ((byte & 0xFC) == 0xF8) {
        number = byte & 0x03, more = 4;
    } else if ((byte & 0xFE) == 0xFC) {
        number = byte & 0x01, more = 5;
    } else if (byte == 0xFE && variable) {
        more = 6;
    } else {
        return Result::Refused;
    }
    for (int i = 0; i < more; ++i) {
        WTK_NEXT_BYTE;
        if ((byte & 0xC0) != 0x80) return Result::Refused;
        number = (number << 6) | (byte & 0x3F);
    }

    uint32_t blockSize = 0;
    if (sizeCode == 1) {
        blockSize = 192;
    } else if (sizeCode <= 5) {
        blockSize = 576u << (sizeCode - 2);
    } else if (sizeCode == 6) {
        WTK_NEXT_BYTE;
        blockSize = byte + 1;
    } else if (sizeCode == 7) {
        WTK_NEXT_BYTE;
        blockSize = byte << 8;
        WTK_NEXT_BYTE;
        blockSize = (blockSize | byte) + 1;
    } else {
        blockSize = 256u << (sizeCode - 8);
    }
    uint32_t rate = rateCode < 12 ? kRates[rateCode] : 0;
    if (rateCode == 12) {
        WTK_NEXT_BYTE;
        rate = byte * 1000;
    } else if (rateCode >= 13) {
        WTK_NEXT_BYTE;
        rate = byte << 8;
        WTK_NEXT_BYTE;
        rate = (rate | byte) * (rateCode == 14 ? 10 : 1);
    }
    WTK_NEXT_BYTE;
#undef WTK_NEXT_BYTE
    if (Crc8(data, at - 1) != byte) return Result::Refused;
    if (blockSize > info_.MaxBlockSize) return Result::Refused;
    if (rateCode != 0 && info_.SampleRate != 0 && rate != info_.SampleRate) return Result::Refused;
    // Frame numbers count blocks of the stream's one block size; after a frame of another size
    // (normally the last) what a number stands for is not certain.
    if (!variable && (info_.MinBlockSize != info_.MaxBlockSize || (number > 0 && oddBlockSeen_)))
        return Result::Refused;
    if (strategy_ >= 0 && strategy_ != (variable ? 1 : 0)) return Result::Refused;
    const int64_t firstSample =
        variable ? static_cast<int64_t>(number) : static_cast<int64_t>(number) * info_.MinBlockSize;

    // The subframes, then zero bits to the byte boundary and the CRC-16.
    BitReader r{data, data + at, data + n + kPadding - 8};
    const size_t nBits = n * 8;
    const auto fail = [&]() { return r.Position() > nBits ? Result::NeedMore : Result::Refused; };
    const int bits = static_cast<int>(info_.BitsPerSample);
    for (uint32_t c = 0; c < info_.Channels; ++c) {
        const bool side = (coding == kLeftSide && c == 1) || (coding == kRightSide && c == 0) ||
                          (coding == kMidSide && c == 1);
        if (!ReadSubframe(r, channels_[c].data(), blockSize, bits + (side ? 1 : 0))) return fail();
    }
    const int padBits = r.avail & 7;
    if (padBits > 0 && r.Take(padBits) != 0) return fail();
    const size_t end = r.Position() / 8 + 2;
    if (end > n) return Result::NeedMore;
    if (crc16(data, end - 2) != ((uint32_t{data[end - 2]} << 8) | data[end - 1]))
        return Result::Refused;

    if (coding >= kLeftSide) {
        int32_t* a = channels_[0].data();
        int32_t* b = channels_[1].data();
        uint64_t bad = 0;
        const int64_t half = int64_t{1} << (bits - 1);
        for (uint32_t i = 0; i < blockSize; ++i) {
            int64_t left, right;
            if (coding == kLeftSide) {
                left = a[i];
                right = int64_t{a[i]} - b[i];
            } else if (coding == kRightSide) {
                right = b[i];
                left = int64_t{a[i]} + b[i];
            } else {
                const int64_t mid = (int64_t{a[i]} * 2) | (b[i] & 1);
                left = (mid + b[i]) >> 1;
                right = (mid - b[i]) >> 1;
            }
            bad |=
                (static_cast<uint64_t>(left + half) | static_cast<uint64_t>(right + half)) >> bits;
            a[i] = static_cast<int32_t>(left);
            b[i] = static_cast<int32_t>(right);
        }
        if (bad != 0) return Result::Refused;
    }
    *used = end;
    oddBlockSeen_ = oddBlockSeen_ || blockSize != info_.MinBlockSize;
    strategy_ = variable ? 1 : 0;
    firstSample_ = firstSample;
    blockSize_ = static_cast<int32_t>(blockSize);
    return Result::Frame;
}

bool UseProcessorInstructions(bool on) {
    if (on && !kHasBmi && !kHasClmul && !kHasAvx2) return false;
#if defined(__x86_64__)
    riceReaders = on && kHasBmi ? &kBmiRiceReaders : &kPlainRiceReaders;
    crc16 = on && kHasClmul ? &Crc16Clmul : &Crc16Plain;
    unfold = on && kHasAvx2 ? &UnfoldAvx2 : &Unfold;
#endif
    return true;
}

}  // namespace wtk
