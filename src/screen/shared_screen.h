#pragma once

#include "connection/screen_sink.h"
#include "screen/screen_model.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace telvora {

// The screen model behind one lock, so that a connection thread can write
// while the user-interface thread paints. The lock is held for one byte, or
// once for a whole block, never while painting pixels. The session owns it;
// a view (the screen widget) listens for writes to repaint.
class SharedScreen : public TScreenSink {
public:
    // A blank screen.
    SharedScreen();

    void WriteByte(std::uint8_t code) override;
    void WriteBlock(const std::uint8_t* data, std::size_t count) override;

    // Runs `read` with the model locked; for painting and for settings.
    template <typename Function> decltype(auto) WithModel(Function&& read) {
        std::lock_guard lock(m_mutex);
        return read(m_model);
    }
    template <typename Function> decltype(auto) WithModel(Function&& read) const {
        std::lock_guard lock(m_mutex);
        return read(static_cast<const ScreenModel&>(m_model));
    }

    // Told after every write and every Changed, on the writer's thread,
    // with the model's lock free; none when null. Once SetListener returns,
    // the previous listener is not running and is not called again.
    void SetListener(std::function<void()> listener);
    // A change made through WithModel (the width, say) that a view must see.
    void Changed() { Tell(); }

    int Columns() const;
    int CursorX() const;
    int CursorY() const;
    std::uint8_t Cell(int column, int row) const;
    // The visible codes in hex and the cursor position, one row a line.
    std::string DumpText() const;
    // The live screen as UTF-8 text, a line a row, trailing blanks removed.
    std::string ScreenText() const;
    // Every kept scrollback row, oldest first, and then the screen's rows.
    std::vector<std::vector<std::uint8_t>> HistoryAndScreenRows() const;

private:
    void Tell();

    mutable std::mutex m_mutex;
    ScreenModel m_model;
    // Recursive: a view that repaints at once may be told again meanwhile.
    std::recursive_mutex m_listenerMutex;
    std::function<void()> m_listener; // guarded by m_listenerMutex
};

} // namespace telvora
