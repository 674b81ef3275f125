// Bytes per second from a local sender through TWSocket and TTnCnx into a
// TBigFIFO that a consumer thread drains, as the Telnet connection does.
// Target: >= 100 MB/s.

#include "connection/big_fifo.h"
#include "connection/telnet/tn_cnx.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::int64_t kTransferSize = 64 << 20;
constexpr std::size_t kSendBlock = 64 << 10;

// Listens on a free loopback port and, once connected, sends kTransferSize
// bytes without IAC, then closes.
class Sender {
public:
    Sender() {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_listen, 1);
        socklen_t length = sizeof addr;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &length);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~Sender() {
        m_thread.join();
        ::close(m_listen);
    }
    int Port() const { return m_port; }

private:
    void Run() {
        const int conn = ::accept(m_listen, nullptr, nullptr);
        if (conn < 0) {
            return;
        }
        std::vector<std::uint8_t> block(kSendBlock);
        for (std::size_t i = 0; i < block.size(); ++i) {
            block[i] = static_cast<std::uint8_t>(i % 255);
        }
        std::int64_t sent = 0;
        while (sent < kTransferSize) {
            const ssize_t n = ::send(conn, block.data(), block.size(), MSG_NOSIGNAL);
            if (n <= 0) {
                break;
            }
            sent += n;
        }
        ::close(conn);
    }

    int m_listen = -1;
    int m_port = 0;
    std::thread m_thread;
};

void BM_TelnetLoopbackIntoFifo(benchmark::State& state) {
    static int argc = 1;
    static char name[] = "bench";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);

    for (auto _ : state) {
        Sender sender;
        TBigFIFO fifo;
        TTnCnx cnx;
        std::atomic<bool> closed{false};
        std::atomic<std::int64_t> consumed{0};
        cnx.SetOnDataAvailable([&](TTnCnx&, const std::uint8_t* block, int length) {
            // The real program would overflow here; the benchmark waits instead.
            while (TBigFIFO::kCapacity - fifo.Count() < length) {
                std::this_thread::yield();
            }
            fifo.Put(block, length);
        });
        cnx.SetOnSessionClosed([&](TTnCnx&, int) { closed = true; });
        std::thread consumer([&] {
            std::vector<std::uint8_t> local(TBigFIFO::kCapacity);
            while (consumed < kTransferSize) {
                const int n = fifo.Count();
                if (n == 0) {
                    // Everything is put before the close is reported.
                    if (closed && fifo.Count() == 0) {
                        break;
                    }
                    std::this_thread::yield();
                    continue;
                }
                fifo.Get(local.data(), n);
                consumed += n;
            }
        });
        cnx.SetHost("127.0.0.1");
        cnx.SetPort(std::to_string(sender.Port()));
        cnx.Connect();
        while (!closed) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        consumer.join();
        if (consumed != kTransferSize) {
            state.SkipWithError("not every byte arrived");
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kTransferSize);
    state.SetLabel("target >= 100 MB/s");
}

BENCHMARK(BM_TelnetLoopbackIntoFifo)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
