#include "connection/serial/hayes_dialer.h"

#include <algorithm>
#include <utility>

namespace telvora {

THayesDialer::THayesDialer(TModemSettings settings) : m_settings(std::move(settings)) {}

void THayesDialer::Start(TTime now) {
    if (m_state != TState::Idle) {
        return;
    }
    if (m_settings.InitString.empty()) {
        Dial(now);
        return;
    }
    m_state = TState::Initializing;
    m_status = "Initializing the modem";
    m_deadline = now + m_settings.InitTimeout;
    Send(m_settings.InitString);
}

void THayesDialer::Heard(const TModemResponse& response, TTime now) {
    switch (m_state) {
    case TState::Initializing:
        if (response.Result == TModemResult::Ok) {
            Dial(now);
        } else if (response.Result == TModemResult::Error) {
            Fail("The modem refused the init string " + m_settings.InitString + ": ERROR");
        }
        break;
    case TState::Dialing:
        switch (response.Result) {
        case TModemResult::Connect:
            m_state = TState::Online;
            m_connect = response.Text;
            m_status = response.Text;
            break;
        case TModemResult::Busy:
        case TModemResult::NoCarrier:
        case TModemResult::NoAnswer:
        case TModemResult::NoDialtone:
        case TModemResult::Error:
            CallFailed(response.Text, now);
            break;
        case TModemResult::Other:
        case TModemResult::Ok:
        case TModemResult::Ring:
            break;
        }
        break;
    case TState::Idle:
    case TState::Pausing:
    case TState::Online:
    case TState::Failed:
        break;
    }
}

void THayesDialer::Tick(TTime now) {
    if (!Calling() || now < m_deadline) {
        return;
    }
    switch (m_state) {
    case TState::Initializing:
        Fail("The modem did not answer the init string " + m_settings.InitString + ".");
        break;
    case TState::Dialing:
        // Any character ends a modem's dialing.
        Send("");
        CallFailed("NO ANSWER", now);
        break;
    case TState::Pausing:
        Dial(now);
        break;
    case TState::Idle:
    case TState::Online:
    case TState::Failed:
        break;
    }
}

std::string THayesDialer::TakeOutput() {
    return std::exchange(m_output, {});
}

int THayesDialer::Tries() const {
    return std::clamp(m_settings.Redials, 0, TModemSettings::kMaxRedials) + 1;
}

void THayesDialer::Dial(TTime now) {
    ++m_try;
    m_state = TState::Dialing;
    m_status = "Dialing " + m_settings.Number;
    if (m_try > 1) {
        m_status += " (try " + std::to_string(m_try) + " of " + std::to_string(Tries()) + ")";
    }
    m_deadline = now + m_settings.AnswerTimeout;
    Send(m_settings.DialCommand + m_settings.Number);
}

void THayesDialer::CallFailed(const std::string& why, TTime now) {
    if (m_try >= Tries()) {
        Fail("The call could not be made: " + why);
        m_status = why;
        return;
    }
    m_state = TState::Pausing;
    m_status = why + ", redialling";
    m_deadline = now + m_settings.RedialPause;
}

void THayesDialer::Fail(const std::string& sentence) {
    m_state = TState::Failed;
    m_failure = sentence;
    m_status = sentence;
}

void THayesDialer::Send(const std::string& command) {
    m_output += command;
    m_output += '\r';
}

} // namespace telvora
