#pragma once

#include "connection/transfer_start_watch.h"
#include "directory/login_steps.h"

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace telvora {

// Looks for an entry's login prompts in the bytes on their way to the
// screen, beside the watch for a transfer's start (which may be absent).
// Bytes that belong to a transfer are not looked at. Connection's thread.
class TLoginLineWatch : public TTransferStartWatch {
public:
    using TType = std::function<void(std::vector<std::uint8_t> codes)>;

    TLoginLineWatch(std::shared_ptr<TTransferStartWatch> inner, std::shared_ptr<TLoginWatch> login,
                    TType type)
        : m_inner(std::move(inner)), m_login(std::move(login)), m_type(std::move(type)) {}

    std::optional<std::size_t> Scan(const std::uint8_t* data, std::size_t count) override {
        const std::optional<std::size_t> start =
            m_inner ? m_inner->Scan(data, count) : std::nullopt;
        if (!m_login->Done()) {
            std::vector<std::uint8_t> codes = m_login->Feed(data, start.value_or(count));
            if (!codes.empty()) {
                m_type(std::move(codes));
            }
        }
        return start;
    }

    void Started() override {
        if (m_inner) {
            m_inner->Started();
        }
    }

private:
    std::shared_ptr<TTransferStartWatch> m_inner;
    std::shared_ptr<TLoginWatch> m_login;
    TType m_type;
};

} // namespace telvora
