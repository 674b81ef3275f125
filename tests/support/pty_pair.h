#pragma once

// A pair of pseudo-terminals joined by socat: what is written to one arrives
// at the other, like the two ends of a null-modem cable.

#include <string>
#include <sys/types.h>

class TPtyPair {
public:
    // How long socat gets to create its two links.
    static constexpr int kStartTimeoutMs = 5000;
    static constexpr int kStopTimeoutMs = 2000;

    // Starts socat in a fresh temporary folder and waits for both links.
    // Throws std::runtime_error with the reason when socat is missing or fails.
    TPtyPair();
    ~TPtyPair();
    TPtyPair(const TPtyPair&) = delete;
    TPtyPair& operator=(const TPtyPair&) = delete;

    // The end the code under test opens.
    const std::string& Local() const { return m_local; }
    // The other end, for the test's own peer.
    const std::string& Remote() const { return m_remote; }

    // Opens the remote end raw and non-blocking (owned by the pair).
    int RemoteFd();
    // Writes all of data to the remote end, waiting as needed (up to timeoutMs).
    bool WriteRemote(const void* data, std::size_t size, int timeoutMs = 5000);
    // Reads from the remote end until size bytes came or timeoutMs passed; returns the count.
    std::size_t ReadRemote(void* data, std::size_t size, int timeoutMs = 5000);

    // Ends socat: the two pseudo-terminals lose their other side (the line hangs up).
    void Hangup();

private:
    void Stop();

    std::string m_dir;
    std::string m_local;
    std::string m_remote;
    pid_t m_pid = -1;
    int m_remoteFd = -1;
};
