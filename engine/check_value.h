#pragma once
// CheckValue: the 8-byte value the version list keeps for every file, folded over the file's bytes
// while the run copies them.
//
// Stored form, which is also the in-memory form: bytes 0-3 the running hash (u32, little-endian;
// hash = hash * 233 + byte for every data byte), byte 4 the sum and byte 5 the exclusive-or of the
// hash's low byte after each step, byte 6 the sum and byte 7 the exclusive-or of the data bytes.
// Sums are modulo 256. The result depends only on the byte sequence, not on how it is chunked.

#include <cstdint>

inline constexpr uint32_t checkValueSize = 8;

struct CheckValue {
    // All 8 bytes zero: the value of no data.
    void reset();
    // Folds `length` bytes into the value, in order; a length of 0 changes nothing.
    void update(const void* data, uint32_t length);
    // The 8 bytes in their stored form.
    const uint8_t* bytes() const { return stored; }

    uint8_t stored[checkValueSize] = {};
};

// The ways update() can fold long inputs, narrowest first; all give the same bytes. update() takes
// the widest one the processor has unless told otherwise: tests and the benchmark try each in turn.
enum class CheckValuePath : uint8_t { Plain, Sse2, Avx2 };

// The widest path this build and processor can take.
CheckValuePath widestCheckValuePath();
// Makes update() take at most `path`, or the widest available when that is narrower; returns the
// path update() takes from now on.
CheckValuePath limitCheckValuePath(CheckValuePath path);
