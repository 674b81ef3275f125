#pragma once

// A session and its window, made as the program makes them.

#include "app/main_window.h"
#include "app/session.h"
#include "app/transfer_commands.h"
#include "screen/crt_screen.h"

namespace telvora::test {

struct TProgram {
    explicit TProgram(Tmain::Sound sound = Tmain::Sound::On) : window(session, sound) {}

    TSession session;
    // Shows the session's screen; goes first and shuts the session down.
    Tmain window;
};

} // namespace telvora::test
