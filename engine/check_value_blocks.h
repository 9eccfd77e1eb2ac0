#pragma once
// The check value over whole blocks of bytes, many bytes per instruction. Written once over a small
// set of vector operations; check_value.cpp instantiates it with SSE2 and check_value_avx2.cpp with
// AVX2. Each block gives exactly the bytes the one-byte-at-a-time rule gives.
//
// Why it can be split up: the hash is linear modulo 2^32. After bytes d_0 .. d_(n-1) from a start S,
//     hash = 233^n * S + sum of d_i * 233^(n-1-i),
// so a block cut into segments has each segment's hash-from-zero as an independent dot product with
// the powers of 233, and joining them in order gives the hash at the start of every segment and at
// the block's end. The low byte of hash * 233 + d depends only on the low byte of the hash, so once
// every segment's starting low byte is known, all segments step through their bytes side by side,
// one segment per 16-bit vector lane, producing every low byte that lowSum and lowXor fold in. A
// lane's upper byte may hold anything: only the low byte of a 16-bit product or sum is read, and it
// depends only on the low bytes of the operands. The bytes reach the lanes through a transpose of
// 16 x 16 byte tiles (one tile per 128 bits of a vector). dataSum and dataXor are plain reductions.

#include <cstdint>

// The state update() carries between the stored bytes and the fast and plain loops.
struct CheckSums {
    uint32_t hash;
    uint8_t lowSum, lowXor, dataSum, dataXor;
};

namespace check_value_blocks {

// Bytes per segment; a block holds 16 segments per 128 bits of vector width.
inline constexpr uint32_t segmentSize = 128;

consteval uint32_t powerOf233(uint32_t exponent) {
    uint32_t power = 1;
    while (exponent-- > 0) power *= 233u;
    return power;
}

// The weight of the byte at position i of a segment is 233^(segmentSize-1-i), split as
// low + 65536 * high (modulo 2^32) with both halves signed 16-bit values, which is what the
// multiply-and-add-pairs instruction takes. The byte times `high` only matters modulo 2^16.
struct SegmentWeights {
    alignas(32) int16_t low[segmentSize];
    alignas(32) int16_t high[segmentSize];
};

consteval SegmentWeights makeSegmentWeights() {
    SegmentWeights weights{};
    uint32_t power = 1;
    for (uint32_t i = segmentSize; i-- > 0; power *= 233u) {
        const auto low = static_cast<int16_t>(power & 0xFFFF);
        weights.low[i] = low;
        weights.high[i] = static_cast<int16_t>(((power - static_cast<uint32_t>(low)) >> 16) & 0xFFFF);
    }
    return weights;
}

// Defined once, in check_value.cpp.
extern const SegmentWeights segmentWeights;

// Folds as many whole blocks of `data` as `length` holds into `sums`; returns the bytes consumed.
uint32_t foldBlocksSse2(CheckSums& sums, const uint8_t* data, uint32_t length);
uint32_t foldBlocksAvx2(CheckSums& sums, const uint8_t* data, uint32_t length);

namespace {

// The segment's hash from a start of zero: sum of d_i * 233^(segmentSize-1-i) modulo 2^32.
template <class V>
uint32_t segmentHash(const uint8_t* segment) {
    auto low = V::zero(), high = V::zero();
    for (uint32_t i = 0; i < segmentSize; i += V::wordLanes) {
        const auto words = V::widenBytes(segment + i);
        low = V::add32(low, V::multiplyAddPairs(words, V::load(segmentWeights.low + i)));
        high = V::add32(high, V::multiplyAddPairs(words, V::load(segmentWeights.high + i)));
    }
    uint32_t lanes[V::wordLanes / 2];
    V::store(lanes, V::add32(low, V::shiftLeft32By16(high)));
    uint32_t hash = 0;
    for (uint32_t lane : lanes) hash += lane;
    return hash;
}

// Rows become columns in every 16 x 16 byte tile: afterwards byte r of rows[c] is what byte c of
// rows[r] was. Each round interleaves row k with row k + 8, which rotates the 8-bit (row, column)
// index left by one; four rounds swap its halves. Unrolled, so that the tile stays in registers
// at every optimisation level (this alone makes -Os code half again as fast).
template <class V>
void transposeTiles(typename V::Vector (&rows)[16]) {
#pragma GCC unroll 4
    for (int round = 0; round < 4; ++round) {
        typename V::Vector next[16];
#pragma GCC unroll 8
        for (int k = 0; k < 8; ++k) {
            next[2 * k] = V::interleaveLow8(rows[k], rows[k + 8]);
            next[2 * k + 1] = V::interleaveHigh8(rows[k], rows[k + 8]);
        }
#pragma GCC unroll 16
        for (int k = 0; k < 16; ++k) rows[k] = next[k];
    }
}

// Running vector totals over all blocks of one call, reduced to bytes at its end.
template <class V>
struct BlockTotals {
    typename V::Vector lowSum = V::zero();   // 16-bit lanes, low byte counts
    typename V::Vector lowXor = V::zero();   // 16-bit lanes, low byte counts
    typename V::Vector dataSum = V::zero();  // 64-bit lanes
    typename V::Vector dataXor = V::zero();  // every byte counts
};

// Steps all segments of a block through their bytes and folds every low byte and every data byte
// into `totals`. After the transpose, 16-bit lane k holds a byte of segment 2k in its low byte and
// one of segment 2k + 1 in its high byte; `even` and `odd` carry those segments' low bytes, and
// start from starts[0] and starts[1].
template <class V>
void foldLowBytes(const uint8_t* block, const uint16_t (&starts)[2][V::wordLanes], BlockTotals<V>& totals) {
    auto even = V::load(starts[0]), odd = V::load(starts[1]);
    const auto multiplier = V::splat16(233);
    for (uint32_t column = 0; column < segmentSize; column += 16) {
        typename V::Vector rows[16];
        for (uint32_t row = 0; row < 16; ++row) {
            rows[row] = V::loadTileRow(block + row * segmentSize + column, 16 * segmentSize);
            totals.dataSum = V::add64(totals.dataSum, V::sumBytes(rows[row]));
            totals.dataXor = V::bitXor(totals.dataXor, rows[row]);
        }
        transposeTiles<V>(rows);
        for (const auto& bytes : rows) {
            even = V::add16(V::multiply16(even, multiplier), bytes);
            odd = V::add16(V::multiply16(odd, multiplier), V::shiftRight16By8(bytes));
            totals.lowSum = V::add16(totals.lowSum, V::add16(even, odd));
            totals.lowXor = V::bitXor(totals.lowXor, V::bitXor(even, odd));
        }
    }
}

template <class V>
uint32_t foldBlocks(CheckSums& sums, const uint8_t* data, uint32_t length) {
    constexpr uint32_t segments = 16 * V::tilesPerVector;
    constexpr uint32_t blockSize = segments * segmentSize;
    constexpr uint32_t segmentPower = powerOf233(segmentSize);
    BlockTotals<V> totals;
    uint32_t done = 0;
    for (; length - done >= blockSize; done += blockSize) {
        const uint8_t* block = data + done;
        uint16_t starts[2][V::wordLanes];  // the hash at the start of segment j, in starts[j % 2][j / 2]
        for (uint32_t j = 0; j < segments; ++j) {
            starts[j % 2][j / 2] = static_cast<uint16_t>(sums.hash);  // only its low byte is used
            sums.hash = sums.hash * segmentPower + segmentHash<V>(block + j * segmentSize);
        }
        foldLowBytes<V>(block, starts, totals);
    }

    uint16_t words[V::wordLanes];
    V::store(words, totals.lowSum);
    for (uint16_t word : words) sums.lowSum = static_cast<uint8_t>(sums.lowSum + word);
    V::store(words, totals.lowXor);
    for (uint16_t word : words) sums.lowXor ^= static_cast<uint8_t>(word);
    uint64_t sums64[V::wordLanes / 4];
    V::store(sums64, totals.dataSum);
    for (uint64_t lane : sums64) sums.dataSum = static_cast<uint8_t>(sums.dataSum + lane);
    uint8_t bytes[V::wordLanes * 2];
    V::store(bytes, totals.dataXor);
    for (uint8_t byte : bytes) sums.dataXor ^= byte;
    return done;
}

}  // namespace
}  // namespace check_value_blocks
