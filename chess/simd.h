// Byte vectors through the compilers' vector extension, and the few operations it lacks: the
// mask of a comparison's lanes as bits, a byte shuffle, sums of bytes and counts of bits.
// Width16 is what both shipped targets have with no flag (SSE2 on x86-64, AdvSIMD on aarch64;
// SSE2 has no byte shuffle, so its Width16 has none); Width32 is AVX2, for the code inlined into
// the one function compiled for that target.
//
// Vectors go in and out of these by reference: code compiled for no target (the templates
// between these and that function) may not pass a 32-byte vector by value, and these may not be
// forced inline into it; once it is inlined into the function compiled for AVX2, they are too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__aarch64__)
#include <arm_neon.h>
#endif

namespace chess::simd {

// Unaligned.
template <class V>
[[gnu::always_inline]] inline void load(V& v, const char* p) {
    std::memcpy(&v, p, sizeof v);
}

struct Width16 {
    using Bytes = std::uint8_t __attribute__((vector_size(16)));
    using Signed = std::int8_t __attribute__((vector_size(16)));
    using Quads = std::uint64_t __attribute__((vector_size(16)));

    // Bit i set where byte i of a comparison's result is set.
    [[gnu::always_inline]] static inline std::uint64_t mask(const Bytes& b) {
#if defined(__SSE2__)
        using Chars = char __attribute__((vector_size(16)));
        return std::uint32_t(__builtin_ia32_pmovmskb128(Chars(b)));
#elif defined(__aarch64__)
        // Each byte keeps its own bit, and each half adds its eight up.
        const uint8x16_t bits = vandq_u8(
            uint8x16_t(b), uint8x16_t(Quads{0x8040201008040201ULL, 0x8040201008040201ULL}));
        return vaddv_u8(vget_low_u8(bits)) | std::uint64_t(vaddv_u8(vget_high_u8(bits))) << 8;
#else
        std::uint64_t m = 0;
        for (int i = 0; i < 16; ++i) m |= std::uint64_t(b[i] >> 7) << i;
        return m;
#endif
    }

    // The masks of four vectors, the first in the low bits.
    [[gnu::always_inline]] static inline std::uint64_t mask64(const Bytes (&v)[4]) {
#if defined(__aarch64__)
        // Pairwise additions of the bits, three rounds, as four separate masks would cost.
        const uint8x16_t bits = uint8x16_t(Quads{0x8040201008040201ULL, 0x8040201008040201ULL});
        const uint8x16_t a =
            vpaddq_u8(vandq_u8(uint8x16_t(v[0]), bits), vandq_u8(uint8x16_t(v[1]), bits));
        const uint8x16_t b =
            vpaddq_u8(vandq_u8(uint8x16_t(v[2]), bits), vandq_u8(uint8x16_t(v[3]), bits));
        const uint8x16_t c = vpaddq_u8(a, b);
        return vgetq_lane_u64(vreinterpretq_u64_u8(vpaddq_u8(c, c)), 0);
#else
        return mask(v[0]) | mask(v[1]) << 16 | mask(v[2]) << 32 | mask(v[3]) << 48;
#endif
    }

#if defined(__aarch64__)
    // Bytes [0, 64) of a text of at least 32, those past its end 0: the blocks that would run
    // past it are loaded where they end with it and moved back into place by a shuffle, which
    // costs less here than moving their masks.
    [[gnu::always_inline]] static inline void load64(Bytes (&v)[4], const char* text,
                                                     std::size_t size) {
        const Bytes files = Bytes(Quads{0x0706050403020100ULL, 0x0F0E0D0C0B0A0908ULL});
        for (unsigned k = 0; k < 4; ++k) {
            const std::size_t at = 16 * k + 16 <= size ? 16 * k : size - 16;
            Bytes b;
            load(b, text + at);
            shuffle(v[k], b, files + std::uint8_t(16 * k - at));
        }
    }

    // Byte i of `out` is byte idx[i] of `table`, or 0 from 16 on.
    [[gnu::always_inline]] static inline void shuffle(Bytes& out, const Bytes& table,
                                                      const Bytes& idx) {
        out = Bytes(vqtbl1q_u8(uint8x16_t(table), uint8x16_t(idx)));
    }
    // The sum of each 64-bit lane's eight bytes.
    [[gnu::always_inline]] static inline void lane_sums(Quads& out, const Bytes& b) {
        out = Quads(vpaddlq_u32(vpaddlq_u16(vpaddlq_u8(uint8x16_t(b)))));
    }
    // The set bits of each byte.
    [[gnu::always_inline]] static inline void byte_counts(Bytes& out, const Bytes& b) {
        out = Bytes(vcntq_u8(uint8x16_t(b)));
    }
#endif
};

#if defined(__x86_64__)
struct Width32 {
    using Bytes = std::uint8_t __attribute__((vector_size(32)));
    using Signed = std::int8_t __attribute__((vector_size(32)));
    using Quads = std::uint64_t __attribute__((vector_size(32)));
    using Chars = char __attribute__((vector_size(32)));

    [[gnu::target("avx2")]] static inline std::uint64_t mask(const Bytes& b) {
        return std::uint32_t(__builtin_ia32_pmovmskb256(Chars(b)));
    }

    [[gnu::target("avx2")]] static inline std::uint64_t mask64(const Bytes (&v)[2]) {
        return mask(v[0]) | mask(v[1]) << 32;
    }

    // Byte i of `out` is byte idx[i] % 16 of the 16-byte half of `table` that holds byte i, or
    // 0 where idx[i] has its top bit set.
    [[gnu::target("avx2")]] static inline void shuffle(Bytes& out, const Bytes& table,
                                                       const Bytes& idx) {
        out = Bytes(__builtin_ia32_pshufb256(Chars(table), Chars(idx)));
    }

    [[gnu::target("avx2")]] static inline void lane_sums(Quads& out, const Bytes& b) {
        out = Quads(__builtin_ia32_psadbw256(Chars(b), Chars{}));
    }

    // By nibbles, from a table of the counts of 0 to 15.
    [[gnu::target("avx2")]] static inline void byte_counts(Bytes& out, const Bytes& b) {
        constexpr std::uint64_t LOW = 0x0302020102010100ULL, HIGH = 0x0403030203020201ULL;
        const Bytes counts = Bytes(Quads{LOW, HIGH, LOW, HIGH});
        Bytes low, high;
        shuffle(low, counts, b & 0x0F);
        shuffle(high, counts, Bytes(Quads(b) >> 4) & 0x0F);
        out = low + high;
    }
};
#endif

}  // namespace chess::simd
