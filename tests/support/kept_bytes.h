#pragma once

#include "transfer/transfer_request.h"

#include <memory>
#include <mutex>
#include <string>

namespace telvora::test {

// What a fake transfer is handed, kept for the test; given an end, it takes
// the bytes up to and including it and nothing after, as a transfer that has
// ended. Maker() gives the session machines that fill it.
class KeptBytes : public std::enable_shared_from_this<KeptBytes> {
public:
    KeptBytes() = default;
    explicit KeptBytes(std::string end) : m_end(std::move(end)) {}

    std::string Bytes() const {
        std::lock_guard lock(m_mutex);
        return m_bytes;
    }
    // How often a running transfer was told its line has gone.
    int LinesLost() const {
        std::lock_guard lock(m_mutex);
        return m_linesLost;
    }
    // The machine's bytes to the line, and its end, as a state machine
    // does them: with its lock held.
    void Send(const std::string& bytes) {
        std::lock_guard lock(m_mutex);
        if (m_port != nullptr) {
            m_port->Send(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        }
    }
    void Finish(TTransferOutcome outcome = TTransferOutcome::Completed) {
        std::lock_guard lock(m_mutex);
        EndLocked(outcome);
    }

    std::function<std::unique_ptr<TTransferMachine>(const TTransferRequest&, TTransferPort&)>
    Maker() {
        return [kept = shared_from_this()](const TTransferRequest&, TTransferPort& port) {
            return std::make_unique<Machine>(kept, port);
        };
    }

private:
    class Machine : public TTransferMachine {
    public:
        Machine(std::shared_ptr<KeptBytes> kept, TTransferPort& port) : m_kept(std::move(kept)) {
            std::lock_guard lock(m_kept->m_mutex);
            m_kept->m_port = &port;
            m_kept->m_progress = TTransferProgress{};
        }
        ~Machine() override {
            std::lock_guard lock(m_kept->m_mutex);
            m_kept->m_port = nullptr;
        }
        void Start() override {}
        std::size_t Receive(const std::uint8_t* data, std::size_t count) override {
            return m_kept->Take(data, count);
        }
        void Tick() override {}
        void Cancel() override { m_kept->Finish(TTransferOutcome::CancelledHere); }
        void LineSilent() override { m_kept->Finish(TTransferOutcome::TimedOut); }
        void LineLost() override {
            std::lock_guard lock(m_kept->m_mutex);
            if (!m_kept->m_progress.ended) {
                ++m_kept->m_linesLost;
                m_kept->EndLocked(TTransferOutcome::LineLost);
            }
        }
        bool Running() const override { return !Progress().ended; }
        TTransferProgress Progress() const override {
            std::lock_guard lock(m_kept->m_mutex);
            return m_kept->m_progress;
        }

    private:
        std::shared_ptr<KeptBytes> m_kept;
    };

    std::size_t Take(const std::uint8_t* data, std::size_t count) {
        std::lock_guard lock(m_mutex);
        std::size_t taken = 0;
        for (; taken < count && !Ended(); ++taken) {
            m_bytes.push_back(static_cast<char>(data[taken]));
        }
        return taken;
    }
    bool Ended() const {
        return !m_end.empty() && m_bytes.size() >= m_end.size() &&
               m_bytes.compare(m_bytes.size() - m_end.size(), m_end.size(), m_end) == 0;
    }
    void EndLocked(TTransferOutcome outcome) {
        if (m_port == nullptr) {
            return;
        }
        m_progress.ended = true;
        m_progress.outcome = outcome;
        m_port->ShowProgress(m_progress);
        m_port->EndTransferMode();
    }

    mutable std::mutex m_mutex;
    std::string m_end;
    std::string m_bytes;
    int m_linesLost = 0;
    TTransferPort* m_port = nullptr;
    TTransferProgress m_progress;
};

} // namespace telvora::test
