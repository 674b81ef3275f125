// What the other side sends after a cancel, split into chunks as a line
// splits it: the drain must take the same bytes whole or chunk by chunk,
// never more than it is given, and nothing once it has stopped; it stops
// only at a byte that is neither CAN nor backspace, after its answer.
//
// Input: the first byte says whose cancel it was (bit 0) and the chunk
// size (the rest, 1 more); the other bytes are the line's.
#include "transfer/cancel_drain.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "cancel drain: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool theirs = (data[0] & 1) != 0;
    const std::size_t chunk = (data[0] >> 1) + 1u;
    const std::uint8_t* line = data + 1;
    const std::size_t length = size - 1;

    telvora::TCancelDrain whole;
    whole.Begin(theirs);
    const std::size_t wholeTaken = whole.Take(line, length);
    Check(wholeTaken <= length, "took more than it was given");
    if (wholeTaken < length) {
        Check(!whole.Active(), "left bytes while still draining");
        Check(line[wholeTaken] != 0x18 && line[wholeTaken] != 0x08, "stopped inside an answer");
    }

    telvora::TCancelDrain split;
    split.Begin(theirs);
    std::size_t taken = 0;
    for (std::size_t at = 0; at < length; at += chunk) {
        const std::size_t part = std::min(chunk, length - at);
        const bool active = split.Active();
        const std::size_t got = split.Take(line + at, part);
        Check(active || got == 0, "took bytes after it stopped");
        taken += got;
        if (got < part) {
            break;
        }
    }
    Check(taken == wholeTaken, "a split line drained differently");
    return 0;
}
