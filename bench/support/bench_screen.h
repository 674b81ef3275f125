#pragma once

#include "screen/crt_screen.h"

namespace telvora::bench {

// One 40x24 screen at Medium size, shown, for the whole benchmark run.
inline TCrtScreen& Screen() {
    static TCrtScreen* screen = [] {
        auto* s = new TCrtScreen;
        s->SetColumns(40);
        s->SetRows(24);
        s->SetFontDelta(8);
        s->show();
        return s;
    }();
    return *screen;
}

} // namespace telvora::bench
