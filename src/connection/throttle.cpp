#include "connection/throttle.h"

namespace telvora {

int ThrottleDelay(int speed) {
    // Eight bits a byte, no start or stop bits; the delay is truncated to
    // whole milliseconds, so the real rate is a little above the line's.
    int bytesPerSecond = speed / 8;
    if (bytesPerSecond < 1) {
        // Below 8 bits per second: one byte a second rather than a division by zero.
        bytesPerSecond = 1;
    }
    return static_cast<int>(1000.0 * (1.0 / bytesPerSecond));
}

} // namespace telvora
