#pragma once
// The pace every loop with a window keeps: the editor's main loop, the splash
// and the filename prompt take input in the same ticks and draw at the same
// frame rate.
#include <cstdint>

constexpr uint32_t TickMs = 10;   // input, auto-repeat and timers
constexpr uint32_t FrameMs = 16;  // one frame drawn and shown, about 60 per second
