// The check value's block algorithm on 256-bit AVX2 registers. This file alone is compiled for
// AVX2 (see CMakeLists.txt); update() calls it only when the processor reports AVX2.
#if defined(__AVX2__)
#include <immintrin.h>

#include "engine/check_value_blocks.h"

namespace check_value_blocks {
namespace {

// Each 128-bit half works as its own tile: the low half holds segments 0-15 of a block, the high
// half segments 16-31, so in-lane interleaves transpose both tiles at once.
struct Avx2 {
    using Vector = __m256i;
    static constexpr uint32_t tilesPerVector = 2;
    static constexpr uint32_t wordLanes = 16;

    static Vector zero() { return _mm256_setzero_si256(); }
    static Vector splat16(uint16_t value) { return _mm256_set1_epi16(static_cast<int16_t>(value)); }
    static Vector load(const void* from) { return _mm256_loadu_si256(static_cast<const __m256i*>(from)); }
    static void store(void* to, Vector value) { _mm256_storeu_si256(static_cast<__m256i*>(to), value); }
    // 16 bytes of one segment and the 16 bytes at the same place of the segment 16 further on.
    static Vector loadTileRow(const uint8_t* row, uint32_t otherTile) {
        const auto low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
        const auto high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + otherTile));
        return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
    }
    static Vector widenBytes(const uint8_t* bytes) {
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)));
    }
    static Vector interleaveLow8(Vector a, Vector b) { return _mm256_unpacklo_epi8(a, b); }
    static Vector interleaveHigh8(Vector a, Vector b) { return _mm256_unpackhi_epi8(a, b); }
    static Vector add16(Vector a, Vector b) { return _mm256_add_epi16(a, b); }
    static Vector add32(Vector a, Vector b) { return _mm256_add_epi32(a, b); }
    static Vector add64(Vector a, Vector b) { return _mm256_add_epi64(a, b); }
    static Vector multiply16(Vector a, Vector b) { return _mm256_mullo_epi16(a, b); }
    static Vector multiplyAddPairs(Vector a, Vector b) { return _mm256_madd_epi16(a, b); }
    static Vector shiftRight16By8(Vector a) { return _mm256_srli_epi16(a, 8); }
    static Vector shiftLeft32By16(Vector a) { return _mm256_slli_epi32(a, 16); }
    static Vector bitXor(Vector a, Vector b) { return _mm256_xor_si256(a, b); }
    static Vector sumBytes(Vector a) { return _mm256_sad_epu8(a, zero()); }
};

}  // namespace

uint32_t foldBlocksAvx2(CheckSums& sums, const uint8_t* data, uint32_t length) {
    return foldBlocks<Avx2>(sums, data, length);
}

}  // namespace check_value_blocks
#endif
