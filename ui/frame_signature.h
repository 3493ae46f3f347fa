#pragma once
// The frame signature: every input a frame's pixels are made from, as the
// drawing routines read them. Each screen section adds its own words beside
// its draw routine (its sign routine); two equal signatures mean two
// identical frames.
#include <cstdint>
#include <string>

struct FrameSignature {
    // Room for every section's words: some 2,800 today, most of them the
    // shown pattern's cells. A section that outgrows it shows as `overflowed`.
    static constexpr int Capacity = 4096;
    uint32_t words[Capacity];
    int count = 0;
    bool overflowed = false;  // words were lost: equal to nothing, so the frame is always drawn
    std::string status;       // the message text while it shows, else empty

    void clear() {
        count = 0;
        overflowed = false;
        status.clear();
    }
    // Adds one word; past the end the word is dropped and the signature marked.
    void put(uint32_t word) {
        if (count < Capacity)
            words[count++] = word;
        else
            overflowed = true;
    }
};

bool operator==(const FrameSignature& a, const FrameSignature& b);  // ui/frame.cpp
