// Random replies from a receiver, with timer ticks, a cancel and a lost line
// now and then: the sender never crashes, sends only whole blocks (with a
// right CRC or checksum), EOTs or three CANs, and its data blocks carry the
// file's bytes in order, each block the one before again or the next.
#include "transfer/block_crc.h"
#include "transfer/block_sender.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "block sender: %s\n", what);
        std::abort();
    }
}

class Files : public telvora::TSenderFiles {
public:
    telvora::TSourceInfo Open(const std::string& path) override {
        const auto file = files.find(path);
        Check(file != files.end(), "an unknown file");
        open = path;
        offset = 0;
        return {file->second.size(), 1};
    }
    std::size_t Read(std::uint8_t* data, std::size_t count) override {
        Check(!open.empty(), "a read of a closed file");
        const Bytes& file = files[open];
        const std::size_t got = std::min(count, file.size() - offset);
        std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(offset), got, data);
        offset += got;
        return got;
    }
    void Close() override { open.clear(); }

    std::map<std::string, Bytes> files;
    std::string open;
    std::size_t offset = 0;
};

class Port : public telvora::TTransferPort {
public:
    void Send(const std::uint8_t* bytes, std::size_t count) override {
        if (count == 1) {
            Check(bytes[0] == 0x04, "a single byte that is no EOT");
            return;
        }
        if (count == 3) {
            Check(bytes[0] == 0x18 && bytes[1] == 0x18 && bytes[2] == 0x18, "not three CANs");
            return;
        }
        Check(bytes[0] == 0x01 || bytes[0] == 0x02, "a block without SOH or STX");
        const std::size_t size = bytes[0] == 0x01 ? 128 : 1024;
        Check(count == size + 4 || count == size + 5, "a block of the wrong length");
        Check(static_cast<std::uint8_t>(bytes[1] ^ bytes[2]) == 0xFF, "a wrong complement");
        const std::uint8_t* data = bytes + 3;
        if (count == size + 5) {
            const std::uint16_t crc = telvora::BlockCrc(data, size);
            Check(bytes[size + 3] == (crc >> 8) && bytes[size + 4] == (crc & 0xFF), "a wrong CRC");
        } else {
            std::uint8_t sum = 0;
            for (std::size_t i = 0; i < size; ++i) {
                sum = static_cast<std::uint8_t>(sum + data[i]);
            }
            Check(bytes[size + 3] == sum, "a wrong checksum");
        }
        const std::uint8_t number = bytes[1];
        if (number != 0 || !batch) {
            Check(number == last || number == static_cast<std::uint8_t>(last + 1) || number == 1,
                  "a block out of order");
            last = number;
        }
    }
    void ShowProgress(const telvora::TTransferProgress& progress) override {
        Check(progress.bytes >= 0 && progress.blocks >= 0 && progress.errorCount >= 0,
              "negative counter");
        Check(progress.totalBytes < 0 || progress.bytes <= progress.totalBytes,
              "more sent than the file holds");
    }
    void Alert() override {}
    void EndTransferMode() override {}
    void ArmTimer(int intervalMs) override { Check(intervalMs > 0, "timer interval"); }
    void DisableTimer() override {}

    bool batch = false;
    std::uint8_t last = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    Port port;
    Files files;
    telvora::TBlockSender sender(port, files);
    // The first byte picks the protocol and the file count, the next two the
    // sizes; after that, 0xFE escapes a control step.
    const auto protocol = static_cast<telvora::TSendProtocol>(data[0] % 3);
    const std::size_t count = protocol == telvora::TSendProtocol::YModem ? 1 + data[0] / 3 % 3 : 1;
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string path = "/up/file" + std::to_string(i);
        Bytes content(static_cast<std::size_t>(data[1 + i % 2]) * 37 + i);
        for (std::size_t j = 0; j < content.size(); ++j) {
            content[j] = static_cast<std::uint8_t>(j * 13 + i);
        }
        files.files[path] = content;
        paths.push_back(path);
    }
    port.batch = protocol == telvora::TSendProtocol::YModem;
    sender.Start(protocol, paths);
    for (std::size_t i = 3; i < size; ++i) {
        if (data[i] == 0xFE && i + 1 < size) {
            const std::uint8_t step = data[++i];
            if (step < 0xC0) {
                sender.TimeoutTimer();
            } else if (step < 0xD0) {
                sender.UserCancel();
            } else if (step < 0xD8) {
                sender.TransportLost();
            } else {
                sender.ReceiveChunk(&data[i], 1);
            }
            continue;
        }
        sender.ReceiveChunk(&data[i], 1);
    }
    return 0;
}
