#pragma once
// Offline render of the whole song to a 16-bit mono WAV file.
#include <cstdint>
#include <string>

// Called now and then during an export with frames rendered and frames in all.
using ExportProgress = void (*)(uint64_t framesDone, uint64_t framesTotal);
extern ExportProgress exportProgress;  // audio/export.cpp: null = no progress report

// Renders from order slot 0 to the end marker and writes fileName safely.
// Reports on the message line; returns whether the file was written.
bool exportWav(const std::string& fileName);

// The canonical 44-byte header of a mono 16-bit 44100 Hz file with dataBytes of samples.
void buildWavHeader(uint8_t* header44, uint32_t dataBytes);

// Frames an export of the current song renders: slots before the end marker
// x 64 rows x ticks per row (speed, at least 1) x 1000.
uint64_t exportFrameCount();
