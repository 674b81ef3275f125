#include "transfer/cancel_drain.h"

namespace telvora {

void TCancelDrain::Begin(bool theirs) {
    m_state = theirs ? State::Answer : State::Flowing;
    m_cans = 0;
}

std::size_t TCancelDrain::Take(const std::uint8_t* data, std::size_t count) {
    std::size_t taken = 0;
    for (; taken < count && m_state != State::Off; ++taken) {
        const std::uint8_t byte = data[taken];
        if (m_state == State::Answer) {
            if (byte != kCan && byte != kBackspace) {
                m_state = State::Off;
                return taken;
            }
            continue;
        }
        m_cans = byte == kCan ? m_cans + 1 : 0;
        if (m_cans >= kAnswerCans) {
            m_state = State::Answer;
        }
    }
    return taken;
}

} // namespace telvora
