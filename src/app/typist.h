#pragma once

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <vector>

namespace telvora {

// Types prepared codes into the live line at a typing pace, not as a flood:
// the line editor of a BBS running on an Atari must keep up. One code every
// CharacterMs, and LineEndMs after each End Of Line (155), so that the board
// has stored the line before the next one begins.
class TTypist : public QObject {
    Q_OBJECT

public:
    struct TPace {
        int characterMs = 20;
        int lineEndMs = 200;
    };
    // Sends one code; false when it could not go (no line): typing stops.
    using TSend = std::function<bool(std::uint8_t code)>;

    explicit TTypist(TSend send, QObject* parent = nullptr);

    void SetPace(TPace pace) { m_pace = pace; }
    TPace Pace() const { return m_pace; }
    // Starts typing the codes (a run already typing is replaced); skipped is
    // how many characters of the source had no code, for the progress.
    void Type(std::vector<std::uint8_t> codes, int skipped = 0);
    // Types the codes after what is being typed, or at once when nothing is.
    void Append(const std::vector<std::uint8_t>& codes);
    // Stops at once; what is left is not sent.
    void Stop();
    bool Typing() const { return m_timer.isActive(); }

Q_SIGNALS:
    void Progress(int sent, int total, int skipped);
    // Every code went out (completed), or typing was stopped or failed.
    void Ended(bool completed);

private:
    void TypeNext();
    void Finish(bool completed);

    TSend m_send;
    TPace m_pace;
    QTimer m_timer;
    std::vector<std::uint8_t> m_codes;
    std::size_t m_next = 0;
    int m_skipped = 0;
};

} // namespace telvora
