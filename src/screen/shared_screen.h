#pragma once

#include "screen/screen_model.h"

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace telvora {

// The screen model behind one lock, so that a connection thread can write
// while the user-interface thread paints. The lock is held for one byte, or
// once for a whole block, never while painting pixels.
class SharedScreen {
public:
    void WriteByte(std::uint8_t code) {
        std::lock_guard lock(m_mutex);
        m_model.WriteByte(code);
    }

    void WriteBlock(const std::uint8_t* data, std::size_t count) {
        std::lock_guard lock(m_mutex);
        m_model.Write(data, count);
    }

    // Runs `read` with the model locked; for painting and for settings.
    template <typename Function> decltype(auto) WithModel(Function&& read) {
        std::lock_guard lock(m_mutex);
        return read(m_model);
    }

    template <typename Function> decltype(auto) WithModel(Function&& read) const {
        std::lock_guard lock(m_mutex);
        return read(static_cast<const ScreenModel&>(m_model));
    }

private:
    mutable std::mutex m_mutex;
    ScreenModel m_model;
};

} // namespace telvora
