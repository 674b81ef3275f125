#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "connection/big_fifo.h"
#include "connection/serial/custom_comm.h"

class TExtendedComm;

// Pump thread of TExtendedComm: every kPollIntervalMs, or sooner when woken,
// moves the bytes waiting in the port into the component's FIFO.
class TFifoDaemon {
public:
    static constexpr int kPollIntervalMs = 50;
    // Bytes moved per step at most; the rest waits in the driver for the next step.
    static constexpr int kBufferSize = 10000;

    // Starts the thread at once.
    explicit TFifoDaemon(TExtendedComm& comm);
    // Stops and joins the thread.
    ~TFifoDaemon();
    TFifoDaemon(const TFifoDaemon&) = delete;
    TFifoDaemon& operator=(const TFifoDaemon&) = delete;

    void Wake();
    void Terminate();

private:
    void Execute();

    TExtendedComm& m_comm;
    std::mutex m_mutex;
    std::condition_variable m_wakeEvent;
    bool m_woken = false;
    bool m_terminate = false;
    std::thread m_thread;
};

// A port component that keeps receiving while nobody reads: without an
// OnRxChar handler its pump moves the received bytes into an own FIFO, and
// Read hands out the FIFO's bytes before the port's, so every byte is read
// once and in order. With an OnRxChar handler assigned (the serial connection
// assigns one before Open) the pump stays out of the way: the handler alone
// reads the port, with the counts and the timeouts its owner set.
class TExtendedComm : public TComm {
    Q_OBJECT

public:
    explicit TExtendedComm(QObject* owner = nullptr);
    ~TExtendedComm() override;

    // FIFO bytes first, then the port's.
    int Read(std::uint8_t* buffer, int count) override;
    // The FIFO's bytes and the driver's, or -1 when closed.
    int InQueCount() override;
    // Discards the driver's input when open, and the FIFO always.
    void PurgeIn() override;
    int FifoCount() const { return m_fifo->Count(); }

protected:
    void RxChar(int count) override;

private:
    friend class TFifoDaemon;
    // One step of the pump, on its thread.
    void Pump(std::uint8_t* buffer);

    std::unique_ptr<TBigFIFO> m_fifo;
    // The Open whose port failed to read in the pump; 0 for none.
    std::atomic<std::uint64_t> m_failedGeneration{0};
    std::unique_ptr<TFifoDaemon> m_daemon;
};
