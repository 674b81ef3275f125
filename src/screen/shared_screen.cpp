#include "screen/shared_screen.h"

#include "screen/atascii_text.h"
#include "screen/screen_dump.h"
#include "screen/screen_view.h"

namespace telvora {

SharedScreen::SharedScreen() {
    m_model.ClearScreen();
    m_model.TakeDamage();
}

void SharedScreen::WriteByte(std::uint8_t code) {
    {
        std::lock_guard lock(m_mutex);
        m_model.WriteByte(code);
    }
    Tell();
}

void SharedScreen::WriteBlock(const std::uint8_t* data, std::size_t count) {
    if (count == 0) {
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_model.Write(data, count);
    }
    Tell();
}

void SharedScreen::SetListener(std::function<void()> listener) {
    std::lock_guard<std::recursive_mutex> lock(m_listenerMutex);
    m_listener = std::move(listener);
}

void SharedScreen::Tell() {
    std::lock_guard<std::recursive_mutex> lock(m_listenerMutex);
    if (m_listener) {
        m_listener();
    }
}

int SharedScreen::Columns() const {
    return WithModel([](const ScreenModel& model) { return model.Columns(); });
}

int SharedScreen::CursorX() const {
    return WithModel([](const ScreenModel& model) { return model.CursorX(); });
}

int SharedScreen::CursorY() const {
    return WithModel([](const ScreenModel& model) { return model.CursorY(); });
}

std::uint8_t SharedScreen::Cell(int column, int row) const {
    return WithModel([column, row](const ScreenModel& model) { return model.Cell(column, row); });
}

std::string SharedScreen::DumpText() const {
    return WithModel([](const ScreenModel& model) { return ScreenDump(model); });
}

std::string SharedScreen::ScreenText() const {
    return WithModel([](const ScreenModel& model) { return ScreenToUtf8(model); });
}

std::vector<std::vector<std::uint8_t>> SharedScreen::HistoryAndScreenRows() const {
    return WithModel([](const ScreenModel& model) {
        const TLineSpan span = LineSpanOf(model);
        std::vector<std::vector<std::uint8_t>> rows;
        for (TLine line = span.FirstKept(); line <= span.LastLine(); ++line) {
            rows.push_back(LineCodes(model, line));
        }
        return rows;
    });
}

} // namespace telvora
