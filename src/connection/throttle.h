#pragma once

namespace telvora {

// The Speed menu's tag that stands for "Disable Throttle".
inline constexpr int kUnthrottledSpeed = 999999999;

// Milliseconds to wait before each byte so that a line of `speed` bits per
// second is imitated: 300 gives 27, 600 13, 1200 6, 2400 3, unthrottled 0.
int ThrottleDelay(int speed);

} // namespace telvora
