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
