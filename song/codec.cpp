#include "song/codec.h"

#include <cstring>

constexpr uint32_t MaxRun = 32768;         // a run count fits in 15 bits (count - 1 <= 0x7FFF)
constexpr uint32_t ShortCountLimit = 127;  // counts up to this fit in one byte below the long-form marker
constexpr uint8_t LongFormMarker = 0x80;   // top bit of the first count byte marks the two-byte count

// The least frequent byte value; ties go to the smallest value.
static uint8_t chooseEscape(const uint8_t* input, uint32_t n) {
    uint32_t counts[256] = {};
    for (uint32_t i = 0; i < n; ++i) ++counts[input[i]];
    unsigned best = 0;
    for (unsigned v = 1; v < 256; ++v)
        if (counts[v] < counts[best]) best = v;
    return uint8_t(best);
}

uint32_t packRle(const uint8_t* input, uint8_t* output, uint32_t n) {
    const uint8_t escape = chooseEscape(input, n);
    uint32_t out = 0;
    output[out++] = escape;
    uint32_t i = 0;
    while (i < n) {
        const uint8_t v = input[i];
        uint32_t run = 1;
        while (i + run < n && run < MaxRun && input[i + run] == v) ++run;
        if (run >= 4) {
            const uint32_t count = run - 1;
            output[out++] = escape;
            if (count <= ShortCountLimit) {
                output[out++] = uint8_t(count);
            } else {
                output[out++] = uint8_t(LongFormMarker + (count >> 8));
                output[out++] = uint8_t(count & 0xFF);
            }
            output[out++] = v;
        } else if (v == escape) {
            // Up to three escape values: the escape and a count of 0..2.
            output[out++] = escape;
            output[out++] = uint8_t(run - 1);
        } else {
            std::memset(output + out, v, run);
            out += run;
        }
        i += run;
    }
    return out;
}

int64_t unpackRle(const uint8_t* packed, uint8_t* output, uint32_t packedLength, uint32_t capacity) {
    if (packedLength == 0) return 0;
    const uint8_t escape = packed[0];
    uint32_t pos = 1;
    uint32_t out = 0;
    while (pos < packedLength) {
        const uint8_t c = packed[pos++];
        if (c != escape) {
            if (out == capacity) return -1;
            output[out++] = c;
            continue;
        }
        // Every further byte of the token must still lie inside the stream.
        if (pos == packedLength) return -1;
        uint32_t count = packed[pos++];
        uint8_t value = escape;
        if (count >= 3) {
            if (count >= LongFormMarker) {
                if (pos == packedLength) return -1;
                count = (count - LongFormMarker) * 256 + packed[pos++];
            }
            if (pos == packedLength) return -1;
            value = packed[pos++];
        }
        const uint32_t copies = count + 1;
        if (copies > capacity - out) return -1;
        std::memset(output + out, value, copies);
        out += copies;
    }
    return out;
}
