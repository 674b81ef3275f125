#pragma once

#include "connection/serial/modem_response.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace telvora {

// How a modem entry calls: the init string (its "OK" is awaited), the dial
// command and the number (a phone number, or HOST:PORT for a WiFi modem),
// and how often a failed call is tried again.
struct TModemSettings {
    static constexpr int kMaxRedials = 99;

    std::string InitString = "ATZ";
    std::string DialCommand = "ATDT";
    std::string Number;
    // Tries after the first.
    int Redials = 0;
    std::chrono::milliseconds RedialPause{3000};
    std::chrono::milliseconds InitTimeout{5000};
    std::chrono::milliseconds AnswerTimeout{60000};

    bool operator==(const TModemSettings&) const = default;
};

// The call of a Hayes modem as a state machine, fed the modem's answers and
// the passing time, telling what to send (commands end in CR) and what the
// call has come to. Times are milliseconds on any steady clock.
class THayesDialer {
public:
    using TTime = std::chrono::milliseconds;
    enum class TState { Idle, Initializing, Dialing, Pausing, Online, Failed };

    explicit THayesDialer(TModemSettings settings);

    // The init string goes out (or the dial command, without one).
    void Start(TTime now);
    void Heard(const TModemResponse& response, TTime now);
    // Time-outs and the pause between tries.
    void Tick(TTime now);

    TState State() const { return m_state; }
    bool Calling() const {
        return m_state == TState::Initializing || m_state == TState::Dialing ||
               m_state == TState::Pausing;
    }
    // What goes to the modem next; taking it empties it.
    std::string TakeOutput();
    // For the status line: what the call is doing or came to.
    const std::string& StatusText() const { return m_status; }
    // Once Failed: why, in a sentence for the user.
    const std::string& FailureText() const { return m_failure; }
    // Once Online: the modem's CONNECT line.
    const std::string& ConnectText() const { return m_connect; }
    int Try() const { return m_try; }

private:
    // The first call and its redials.
    int Tries() const;
    void Dial(TTime now);
    void CallFailed(const std::string& why, TTime now);
    void Fail(const std::string& sentence);
    void Send(const std::string& command);

    const TModemSettings m_settings;
    TState m_state = TState::Idle;
    TTime m_deadline{0};
    int m_try = 0;
    std::string m_output;
    std::string m_status;
    std::string m_failure;
    std::string m_connect;
};

} // namespace telvora
