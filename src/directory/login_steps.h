#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace telvora {

// One step of a login: when the board has sent any of the waits (letter
// case aside), send the text. Its placeholders: {user}, {password} and
// {eol} (End Of Line, 155).
struct TLoginStep {
    std::vector<std::string> Waits;
    std::string Send;
    bool operator==(const TLoginStep&) const = default;
};

// Steps as an entry keeps them, on one line: "WAIT=SEND" steps separated by
// ';', alternative waits by '|'. Blanks around each part are dropped.
inline constexpr std::string_view kDefaultLoginSteps =
    "NAME|USER|LOGIN|HANDLE={user}{eol};PASS={password}{eol}";
// Empty text gives the default steps; a part without '=' or without a wait
// is left out.
std::vector<TLoginStep> ParseLoginSteps(std::string_view text);

// Watches what the board sends for the steps' prompts and says what to
// type. Each step goes once per call. A step whose send needs the user name
// or the password is left out when that is empty. The codes the board
// sends are read as ASCII: inverse video (the high bit) counts as plain.
class TLoginWatch {
public:
    // The longest tail of received text kept for matching; a wait longer
    // than it never matches.
    static constexpr std::size_t kMaxWait = 80;

    TLoginWatch(std::vector<TLoginStep> steps, std::string user, std::string password);

    // Takes received codes; returns the codes to type for the prompts that
    // appeared in them (empty when none did).
    std::vector<std::uint8_t> Feed(const std::uint8_t* data, std::size_t count);
    bool Done() const;

private:
    void Expand(std::string_view send, std::vector<std::uint8_t>& out) const;
    bool Fires(const TLoginStep& step) const;

    std::vector<TLoginStep> m_steps;
    std::vector<bool> m_done;
    std::string m_user;
    std::string m_password;
    std::string m_tail;
};

} // namespace telvora
