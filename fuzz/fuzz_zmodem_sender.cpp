// Random replies from a ZMODEM receiver, with ticks, pumps, cancels and a lost
// line now and then: the sender never crashes, reads only inside the file it
// has open, and keeps each burst bounded.
#include "transfer/zmodem/zmodem_sender.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "zmodem sender: %s\n", what);
        std::abort();
    }
}

class Port : public telvora::TTransferPort {
public:
    void Send(const std::uint8_t* /*bytes*/, std::size_t count) override {
        Check(count > 0, "an empty send");
        sent += count;
    }
    void ShowProgress(const telvora::TTransferProgress& progress) override {
        Check(progress.bytes >= 0 && progress.errorCount >= 0, "negative counter");
        Check(progress.totalBytes < 0 || progress.bytes <= progress.totalBytes,
              "more sent than the file holds");
    }
    void Alert() override {}
    void EndTransferMode() override { ++ended; }
    void ArmTimer(int intervalMs) override { Check(intervalMs > 0, "timer interval"); }
    void DisableTimer() override {}
    std::size_t sent = 0;
    int ended = 0;
};

class Source : public telvora::TZmodemSource {
public:
    TInfo Open(const std::string& path) override {
        open = path;
        return {sizes.at(path), 0};
    }
    std::size_t ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count) override {
        Check(!open.empty(), "a read with no file open");
        const std::uint64_t size = sizes.at(open);
        Check(offset <= size, "a read beyond the end");
        const std::size_t got =
            static_cast<std::size_t>(std::min<std::uint64_t>(count, size - offset));
        for (std::size_t i = 0; i < got; ++i) {
            data[i] = static_cast<std::uint8_t>(offset + i);
        }
        return got;
    }
    void Close() override { open.clear(); }

    std::map<std::string, std::uint64_t> sizes{{"/a", 70000}, {"/b", 0}, {"/c", 3000}};
    std::string open;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Port port;
    Source source;
    telvora::TZmodemSender sender(port, source);
    sender.Start({"/a", "/b", "/c"});
    // A burst is whole subpackets: at most one over the budget, escaped, with a header.
    constexpr std::size_t kBurstLimit =
        2 * (telvora::TZmodemSender::kBurstBytes + 2 * telvora::TZmodemSender::kLargestSubpacket) +
        64;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFE && i + 1 < size) {
            const std::uint8_t step = data[++i];
            const std::size_t before = port.sent;
            if (step < 0x80) {
                sender.TimeoutTimer();
            } else if (step < 0xC0) {
                sender.Pump();
            } else if (step < 0xC8) {
                sender.UserCancel();
            } else if (step < 0xD0) {
                sender.TransportLost();
            } else {
                sender.ReceiveChunk(&data[i], 1);
            }
            Check(port.sent - before <= kBurstLimit, "a burst beyond its bound");
            continue;
        }
        sender.ReceiveChunk(&data[i], 1);
    }
    Check(port.ended <= 1, "ended twice");
    Check(sender.Running() == (port.ended == 0), "running after its end");
    return 0;
}
