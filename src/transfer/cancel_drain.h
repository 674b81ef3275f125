#pragma once

#include <cstddef>
#include <cstdint>

namespace telvora {

// What the other side still sends of a transfer that has ended by a cancel:
// the data it had on its way, then its own cancel (a run of CANs, and the
// backspaces that rub them out on a terminal). All of it is the transfer's,
// not the screen's, until that answer has passed; the first byte after it is
// the screen's again. A side that never answers is waited out by whoever
// drives this (a short quiet time on the line).
class TCancelDrain {
public:
    // CANs in a row that make the answer: escaped ZMODEM data never holds
    // two, and a block rarely holds five.
    static constexpr int kAnswerCans = 5;

    // Our cancel has gone out (or is about to): the other side's data
    // still comes. theirs: the other side's cancel is what ended it, and its
    // rest comes now.
    void Begin(bool theirs);
    void Stop() { m_state = State::Off; }
    bool Active() const { return m_state != State::Off; }
    // The other side's cancel has begun to come.
    bool Answered() const { return m_state == State::Answer; }
    // How many of the bytes belong to the ended transfer; fewer once its
    // answer has passed (and then it is no longer active).
    std::size_t Take(const std::uint8_t* data, std::size_t count);

private:
    enum class State { Off, Flowing, Answer };
    static constexpr std::uint8_t kCan = 0x18;
    static constexpr std::uint8_t kBackspace = 0x08;

    State m_state = State::Off;
    int m_cans = 0;
};

} // namespace telvora
