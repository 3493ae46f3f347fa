// The audio callback's block fill never touches the heap: not while idle,
// not while a busy song plays through row triggers and the order-list loop,
// not when it starts a preview, not while an export silences it.
#include <gtest/gtest.h>

#include <memory>

#include "audio/instruments.h"
#include "audio/sequencer.h"
#include "song/song.h"
#include "tests/support/alloc_watch.h"
#include "tests/support/test_support.h"

namespace {

size_t allocationsDuring(void (*work)()) {
    allocationsCounted = 0;
    countAllocations = true;
    work();
    countAllocations = false;
    return allocationsCounted.load();
}

double block[512];

}  // namespace

// The counter itself sees an allocation made while it counts (else the
// checks below could not fail).
TEST(CallbackAlloc, CounterSeesAnAllocationMadeWhileCounting) {
    // An allocation made while counting is counted.
    const size_t n = allocationsDuring([] {
        std::unique_ptr<int> p(new int(3));
        EXPECT_EQ(*p, 3);
    });
    EXPECT_GE(n, 1u);
}

// Playing, idle and exporting blocks all fill without one heap allocation.
TEST(CallbackAlloc, FillBlockNeverAllocatesPlayingIdleOrExporting) {
    // The audio callback's block fill allocates nothing in any state.
    busySong(1, 7);
    transport.playing = true;
    // Speed 1: 128 rows x 1000 frames = 250 blocks per loop; 300 blocks pass
    // every row trigger, the wrap back to slot 0 and every voice kind.
    EXPECT_EQ(allocationsDuring([] {
                  for (int i = 0; i < 300; ++i) fillBlock(block, 512);
              }),
              0u);
    EXPECT_EQ(transport.orderPos, 0);  // the loop came back round
    EXPECT_NE(transport.currentRow, 0);

    transport.playing = false;  // idle: voices ring on, no position moves, a preview comes in
    previewNote(3, 50);
    EXPECT_EQ(allocationsDuring([] {
                  for (int i = 0; i < 20; ++i) fillBlock(block, 512);
              }),
              0u);
    EXPECT_EQ(instruments[3]->note, 50);

    engine.exporting = true;  // the export guard: silence only
    EXPECT_EQ(allocationsDuring([] { fillBlock(block, 512); }), 0u);
    EXPECT_TRUE(engine.exportSeen);
    EXPECT_EQ(block[0], 0.0);
    engine.exporting = false;
}
