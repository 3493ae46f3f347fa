// Reads arbitrary bytes as a recovery copy. A refused copy is fine; an
// accepted one must hold a whole song image and texts within their bounds,
// and must be exactly the bytes its contents encode to.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "song/recovery_copy.h"
#include "song/song_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RecoveryCopy copy;
    if (!decodeRecoveryCopy(data, size, copy)) return 0;
    if (copy.image.size() != SongImageSize || copy.name.size() > RecoveryNameMax ||
        copy.folder.size() > RecoveryNameMax)
        std::abort();
    // The packed song may be packed differently (any escape byte, any token
    // split), so only a copy in this program's own packing must come back as it was.
    const std::vector<uint8_t> again = encodeRecoveryCopy(copy);
    RecoveryCopy back;
    if (!decodeRecoveryCopy(again.data(), again.size(), back) || back.image != copy.image || back.name != copy.name ||
        back.folder != copy.folder || back.writtenNs != copy.writtenNs || !(back.file == copy.file))
        std::abort();
    return 0;
}
