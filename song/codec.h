#pragma once
// The run-length codec of the song file: runs of four or more equal bytes
// become a token behind a per-stream escape byte (the least frequent value).
#include <cstdint>

// Largest packed size of n input bytes: the escape byte, every byte, and one
// extra byte per escaped single escape value (at most n / 256 of them).
constexpr uint32_t packedBound(uint32_t n) { return 1 + n + n / 256; }

// Packs n >= 1 bytes into output (room for packedBound(n)); returns the packed length.
uint32_t packRle(const uint8_t* input, uint8_t* output, uint32_t n);

// Unpacks packedLength bytes into output, which has room for capacity bytes.
// Returns the number of bytes written, or -1 when the stream is bad: a token
// cut off by the end of the stream, or more output than capacity.
int64_t unpackRle(const uint8_t* packed, uint8_t* output, uint32_t packedLength, uint32_t capacity);
