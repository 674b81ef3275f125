#include "app/typist.h"

#include "screen/screen_model.h"

namespace telvora {

TTypist::TTypist(TSend send, QObject* parent) : QObject(parent), m_send(std::move(send)) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &TTypist::TypeNext);
}

void TTypist::Type(std::vector<std::uint8_t> codes, int skipped) {
    m_timer.stop();
    m_codes = std::move(codes);
    m_next = 0;
    m_skipped = skipped;
    Q_EMIT Progress(0, static_cast<int>(m_codes.size()), m_skipped);
    if (m_codes.empty()) {
        Finish(true);
        return;
    }
    // The first code goes at the next turn of the event loop, not inside
    // the caller's own step.
    m_timer.start(0);
}

void TTypist::Append(const std::vector<std::uint8_t>& codes) {
    if (!Typing()) {
        Type(codes);
        return;
    }
    m_codes.insert(m_codes.end(), codes.begin(), codes.end());
}

void TTypist::Stop() {
    if (m_timer.isActive()) {
        Finish(false);
    }
}

void TTypist::TypeNext() {
    const std::uint8_t code = m_codes[m_next];
    if (!m_send(code)) {
        Finish(false);
        return;
    }
    ++m_next;
    Q_EMIT Progress(static_cast<int>(m_next), static_cast<int>(m_codes.size()), m_skipped);
    if (m_next == m_codes.size()) {
        Finish(true);
        return;
    }
    m_timer.start(code == atascii::kEndOfLine ? m_pace.lineEndMs : m_pace.characterMs);
}

void TTypist::Finish(bool completed) {
    m_timer.stop();
    m_codes.clear();
    m_next = 0;
    Q_EMIT Ended(completed);
}

} // namespace telvora
