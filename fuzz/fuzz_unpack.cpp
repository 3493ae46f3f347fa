// Unpacks arbitrary streams into a buffer of arbitrary size, and packs
// arbitrary data and unpacks it again.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "song/codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    // The first two bytes choose the output capacity; the rest is the stream.
    const uint32_t capacity = uint32_t(data[0]) << 8 | data[1];
    const uint8_t* stream = data + 2;
    const uint32_t length = uint32_t(size - 2);

    // Exact-size buffers: any read or write past them trips the sanitizers.
    std::vector<uint8_t> out(capacity);
    const int64_t written = unpackRle(stream, out.data(), length, capacity);
    if (written < -1 || written > int64_t(capacity)) std::abort();

    // Packing the same bytes stays inside the bound and unpacks unchanged.
    if (length == 0) return 0;
    std::vector<uint8_t> packed(packedBound(length));
    const uint32_t packedLength = packRle(stream, packed.data(), length);
    if (packedLength > packedBound(length)) std::abort();
    packed.resize(packedLength);
    std::vector<uint8_t> back(length);
    if (unpackRle(packed.data(), back.data(), packedLength, length) != int64_t(length)) std::abort();
    if (std::memcmp(back.data(), stream, length) != 0) std::abort();

    // A successful unpack is data like any other: it packs and returns too.
    if (written > 0) {
        out.resize(size_t(written));
        std::vector<uint8_t> repacked(packedBound(uint32_t(written)));
        const uint32_t n = packRle(out.data(), repacked.data(), uint32_t(written));
        std::vector<uint8_t> again(static_cast<size_t>(written));
        if (unpackRle(repacked.data(), again.data(), n, uint32_t(written)) != written) std::abort();
        if (again != out) std::abort();
    }
    return 0;
}
