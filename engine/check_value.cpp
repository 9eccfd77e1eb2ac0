#include "engine/check_value.h"

#include "engine/check_value_blocks.h"
#include "engine/little_endian.h"

#if defined(__SSE2__)
#include <cpuid.h>
#include <emmintrin.h>
#endif

namespace {

// The rule itself, one byte at a time: for short inputs and the bytes after the last whole block.
void foldPlain(CheckSums& sums, const uint8_t* bytes, uint32_t length) {
    // The five running values live in locals for the whole loop, so it does per byte only the
    // arithmetic the value is made of.
    uint32_t hash = sums.hash;
    uint8_t lowSum = sums.lowSum, lowXor = sums.lowXor, dataSum = sums.dataSum, dataXor = sums.dataXor;
    for (uint32_t i = 0; i < length; ++i) {
        const uint8_t d = bytes[i];
        hash = hash * 233u + d;
        const auto low = static_cast<uint8_t>(hash);
        lowSum = static_cast<uint8_t>(lowSum + low);
        lowXor ^= low;
        dataSum = static_cast<uint8_t>(dataSum + d);
        dataXor ^= d;
    }
    sums = {hash, lowSum, lowXor, dataSum, dataXor};
}

// The path update() takes: the widest available, looked up on first use, or one a test chose.
bool pathChosen = false;
CheckValuePath chosenPath = CheckValuePath::Plain;

#if defined(__SSE2__)
CheckValuePath currentPath() {
    if (!pathChosen) limitCheckValuePath(CheckValuePath::Avx2);
    return chosenPath;
}

// AVX2 is usable when the processor has it and the operating system saves the 256-bit registers
// across thread switches (bits 1 and 2 of XCR0). Asked directly rather than through the compiler's
// processor-model library, which would add several kilobytes to the executable.
bool processorHasAvx2() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || !(ecx & bit_OSXSAVE) || !(ecx & bit_AVX)) return false;
    unsigned xcr0 = 0, xcr0High = 0;
    __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0High) : "c"(0));
    if ((xcr0 & 6) != 6 || __get_cpuid_max(0, nullptr) < 7) return false;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    return (ebx & bit_AVX2) != 0;
}
#endif

}  // namespace

#if defined(__SSE2__)
namespace check_value_blocks {

constexpr SegmentWeights segmentWeights = makeSegmentWeights();

namespace {

// The vector operations the block algorithm needs, on 128-bit SSE2 registers.
struct Sse2 {
    using Vector = __m128i;
    static constexpr uint32_t tilesPerVector = 1;
    static constexpr uint32_t wordLanes = 8;

    static Vector zero() { return _mm_setzero_si128(); }
    static Vector splat16(uint16_t value) { return _mm_set1_epi16(static_cast<int16_t>(value)); }
    static Vector load(const void* from) { return _mm_loadu_si128(static_cast<const __m128i*>(from)); }
    static void store(void* to, Vector value) { _mm_storeu_si128(static_cast<__m128i*>(to), value); }
    // 16 bytes of one segment.
    static Vector loadTileRow(const uint8_t* row, uint32_t) { return load(row); }
    // `wordLanes` bytes, each widened to a 16-bit lane.
    static Vector widenBytes(const uint8_t* bytes) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes)), zero());
    }
    static Vector interleaveLow8(Vector a, Vector b) { return _mm_unpacklo_epi8(a, b); }
    static Vector interleaveHigh8(Vector a, Vector b) { return _mm_unpackhi_epi8(a, b); }
    static Vector add16(Vector a, Vector b) { return _mm_add_epi16(a, b); }
    static Vector add32(Vector a, Vector b) { return _mm_add_epi32(a, b); }
    static Vector add64(Vector a, Vector b) { return _mm_add_epi64(a, b); }
    static Vector multiply16(Vector a, Vector b) { return _mm_mullo_epi16(a, b); }
    static Vector multiplyAddPairs(Vector a, Vector b) { return _mm_madd_epi16(a, b); }
    static Vector shiftRight16By8(Vector a) { return _mm_srli_epi16(a, 8); }
    static Vector shiftLeft32By16(Vector a) { return _mm_slli_epi32(a, 16); }
    static Vector bitXor(Vector a, Vector b) { return _mm_xor_si128(a, b); }
    // Sums of the bytes in each 64-bit half.
    static Vector sumBytes(Vector a) { return _mm_sad_epu8(a, zero()); }
};

}  // namespace

uint32_t foldBlocksSse2(CheckSums& sums, const uint8_t* data, uint32_t length) {
    return foldBlocks<Sse2>(sums, data, length);
}

}  // namespace check_value_blocks
#endif

CheckValuePath widestCheckValuePath() {
#if defined(__SSE2__)
    return processorHasAvx2() ? CheckValuePath::Avx2 : CheckValuePath::Sse2;
#else
    return CheckValuePath::Plain;
#endif
}

CheckValuePath limitCheckValuePath(CheckValuePath path) {
    const CheckValuePath widest = widestCheckValuePath();
    chosenPath = path < widest ? path : widest;
    pathChosen = true;
    return chosenPath;
}

void CheckValue::reset() {
    for (uint8_t& byte : stored) byte = 0;
}

void CheckValue::update(const void* data, uint32_t length) {
    CheckSums sums{readU32(stored), stored[4], stored[5], stored[6], stored[7]};
    const auto* bytes = static_cast<const uint8_t*>(data);
    uint32_t done = 0;
#if defined(__SSE2__)
    const CheckValuePath path = currentPath();
    if (path == CheckValuePath::Avx2) done = check_value_blocks::foldBlocksAvx2(sums, bytes, length);
    if (path != CheckValuePath::Plain) done += check_value_blocks::foldBlocksSse2(sums, bytes + done, length - done);
#endif
    foldPlain(sums, bytes + done, length - done);
    writeU32(stored, sums.hash);
    stored[4] = sums.lowSum;
    stored[5] = sums.lowXor;
    stored[6] = sums.dataSum;
    stored[7] = sums.dataXor;
}
