#pragma once
// Living with the audio library (RtAudio): its chatter, and closes that may
// hang. Part of the stream (audio/stream.cpp), built with it.
#include <RtAudio.h>

// The library's own diagnostics kept off standard error: ALSA's messages,
// and the line each start prints about real-time scheduling.
void quietAudioLibrary();

// Stops, closes and frees a stream object on a thread of its own, waiting a
// few seconds at most (one when the sound had already stopped, `died`); a
// close that does not come back is left to its thread. After a JACK server
// shut down, the library's own thread closes it and the object is freed then.
void closeStream(RtAudio* object, bool died);
