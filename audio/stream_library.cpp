// Living with the audio library: its own diagnostics kept off standard
// error, and a stream closed so that a frozen sound server cannot hang the quit.
//
//   1. The library's chatter
//   2. Closing a stream
#include "audio/stream_library.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <mutex>
#include <streambuf>
#include <string>
#include <thread>

#include "platform/platform.h"

// ---------------------------------------------------------------------------
// 1. The library's chatter

// Asked for real-time scheduling, the library's PulseAudio and ALSA threads
// announce on std::cerr at every start whether they got it ("RtAudio pulse:
// _NOT_ running realtime scheduling"). Where it is not permitted the stream
// simply runs as before, so that line is dropped; anything else the library
// writes there still reaches standard error, a whole line at a time.
class LibraryChatterFilter : public std::streambuf {
public:
    explicit LibraryChatterFilter(std::streambuf* out) : target(out) {}

protected:
    int overflow(int c) override {
        if (c == traits_type::eof()) return traits_type::not_eof(c);
        // Each thread gathers its own line: two threads writing at once never mix their words.
        static thread_local std::string line;
        line += char(c);
        if (c == '\n') {
            if (!isSchedulingNote(line)) {
                std::lock_guard<std::mutex> hold(lock);
                target->sputn(line.data(), std::streamsize(line.size()));
                target->pubsync();
            }
            line.clear();
        }
        return c;
    }
    // A line goes out whole at its end; std::cerr flushes after every piece.
    int sync() override { return 0; }

private:
    static bool isSchedulingNote(const std::string& text) {
        return text.compare(0, 8, "RtAudio ") == 0 && text.find("running realtime scheduling") != std::string::npos;
    }
    std::streambuf* target;
    std::mutex lock;
};

// Made once and never destroyed: the C++ library flushes std::cerr while
// the program ends, after this file's objects are gone.
static void filterLibraryChatter() {
    static LibraryChatterFilter* const filter = new LibraryChatterFilter(std::cerr.rdbuf());
    if (std::cerr.rdbuf() != filter) std::cerr.rdbuf(filter);
}

void quietAudioLibrary() {
    quietSoundSystem();  // the sound system's own diagnostics would bury the one line we print
    filterLibraryChatter();
}

// ---------------------------------------------------------------------------
// 2. Closing a stream

// Stops, closes and frees a stream; runs on a thread of its own.
static void closeAndFree(RtAudio* object) {
    try {
        // Stop at once without playing out queued blocks; a stop after the
        // abort is only needed if the abort left it running.
        if (object->isStreamRunning()) object->abortStream();
        if (object->isStreamRunning()) object->stopStream();
    } catch (...) {}
    try {
        if (object->isStreamOpen()) object->closeStream();
    } catch (...) {}
    delete object;
}

// A JACK server that shut down makes the library close the stream from a
// thread of its own, which can hang inside the JACK client library; any
// further close would wait on it. The object is freed once that thread
// has closed the stream, and left to it if it never does.
static void freeOnceClosed(RtAudio* object) {
    for (int i = 0; i < 150; ++i) {
        if (!object->isStreamOpen()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let it return
            delete object;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void closeStream(RtAudio* object, bool died) {
    if (died && object->getCurrentApi() == RtAudio::UNIX_JACK) {
        freeOnceClosed(object);
        return;
    }

    // A sound server that stopped answering can block a close for ever; the
    // program must still be able to quit. The close gets a few seconds.
    struct Closing {
        std::mutex lock;
        std::condition_variable done;
        bool finished = false;
    };
    auto state = std::make_shared<Closing>();
    std::thread closer;
    try {
        closer = std::thread([object, state] {
            closeAndFree(object);
            std::lock_guard<std::mutex> hold(state->lock);
            state->finished = true;
            state->done.notify_all();
        });
    } catch (std::exception&) {
        closeAndFree(object);  // no thread to spare: close here, unguarded
        return;
    }
    bool finished;
    {
        std::unique_lock<std::mutex> hold(state->lock);
        // Once the sound has stopped the server is gone or frozen: a close
        // that has not come back within a second will not come back.
        const auto limit = died ? std::chrono::milliseconds(1000) : std::chrono::milliseconds(3000);
        finished = state->done.wait_for(hold, limit, [&] { return state->finished; });
    }
    if (finished) {
        closer.join();
    } else {
        closer.detach();
        std::fprintf(stderr, "audio: the sound library did not close the stream in time; left open\n");
        std::fflush(stderr);
    }
}
