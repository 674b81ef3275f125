#pragma once

namespace telvora {

// Bytes waiting to be read on a socket or terminal, or -1 when the system
// cannot tell (the descriptor is closed or not of that kind).
int BytesWaiting(int fd);
// Bytes a terminal still holds to send, or 0 when the system cannot tell.
int BytesToSend(int fd);

} // namespace telvora
