#include "directory/login_steps.h"

#include "common/text_helpers.h"

#include <algorithm>

namespace telvora {

namespace {

constexpr std::string_view kUser = "{user}";
constexpr std::string_view kPassword = "{password}";
constexpr std::string_view kEol = "{eol}";
constexpr std::uint8_t kEndOfLine = 155;

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string_view::npos ? at : at - start));
        if (at == std::string_view::npos) {
            return parts;
        }
        start = at + 1;
    }
}

char LowerLetter(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

} // namespace

std::vector<TLoginStep> ParseLoginSteps(std::string_view text) {
    if (TrimBlanks(text).empty()) {
        text = kDefaultLoginSteps;
    }
    std::vector<TLoginStep> steps;
    for (const std::string_view part : Split(text, ';')) {
        const std::size_t equals = part.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        TLoginStep step;
        for (const std::string_view wait : Split(part.substr(0, equals), '|')) {
            const std::string trimmed = TrimBlanks(wait);
            if (!trimmed.empty() && trimmed.size() <= TLoginWatch::kMaxWait) {
                step.Waits.push_back(LowerAscii(trimmed));
            }
        }
        step.Send = TrimBlanks(part.substr(equals + 1));
        if (!step.Waits.empty()) {
            steps.push_back(std::move(step));
        }
    }
    return steps;
}

TLoginWatch::TLoginWatch(std::vector<TLoginStep> steps, std::string user, std::string password)
    : m_user(std::move(user)), m_password(std::move(password)) {
    for (TLoginStep& step : steps) {
        const bool needsUser = step.Send.find(kUser) != std::string::npos;
        const bool needsPassword = step.Send.find(kPassword) != std::string::npos;
        if ((needsUser && m_user.empty()) || (needsPassword && m_password.empty())) {
            continue;
        }
        m_steps.push_back(std::move(step));
    }
    m_done.assign(m_steps.size(), false);
}

bool TLoginWatch::Done() const {
    return std::all_of(m_done.begin(), m_done.end(), [](bool done) { return done; });
}

bool TLoginWatch::Fires(const TLoginStep& step) const {
    return std::any_of(step.Waits.begin(), step.Waits.end(),
                       [this](const std::string& wait) { return EndsWith(m_tail, wait); });
}

std::vector<std::uint8_t> TLoginWatch::Feed(const std::uint8_t* data, std::size_t count) {
    std::vector<std::uint8_t> typed;
    for (std::size_t i = 0; i < count && !Done(); ++i) {
        const std::uint8_t code = data[i];
        if (code == kEndOfLine) {
            m_tail.clear();
            continue;
        }
        m_tail.push_back(LowerLetter(static_cast<char>(code & 0x7F)));
        if (m_tail.size() > kMaxWait) {
            m_tail.erase(0, m_tail.size() - kMaxWait);
        }
        for (std::size_t s = 0; s < m_steps.size(); ++s) {
            if (!m_done[s] && Fires(m_steps[s])) {
                m_done[s] = true;
                Expand(m_steps[s].Send, typed);
                // What the board echoes of it must not answer the next prompt.
                m_tail.clear();
                break;
            }
        }
    }
    return typed;
}

void TLoginWatch::Expand(std::string_view send, std::vector<std::uint8_t>& out) const {
    while (!send.empty()) {
        if (send.substr(0, kUser.size()) == kUser) {
            out.insert(out.end(), m_user.begin(), m_user.end());
            send.remove_prefix(kUser.size());
        } else if (send.substr(0, kPassword.size()) == kPassword) {
            out.insert(out.end(), m_password.begin(), m_password.end());
            send.remove_prefix(kPassword.size());
        } else if (send.substr(0, kEol.size()) == kEol) {
            out.push_back(kEndOfLine);
            send.remove_prefix(kEol.size());
        } else {
            out.push_back(static_cast<std::uint8_t>(send.front()));
            send.remove_prefix(1);
        }
    }
}

} // namespace telvora
