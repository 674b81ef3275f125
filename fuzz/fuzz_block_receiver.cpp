// Random bytes from a sender, with timer ticks and a cancel now and then: the
// receiver never crashes, every file it makes lies directly in the chosen
// folder, and it only ever answers with its reply bytes.
#include "transfer/block_receiver.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "block receiver: %s\n", what);
        std::abort();
    }
}

const std::string kFolder = "/downloads";

class Port : public telvora::TTransferPort {
public:
    void Send(const std::uint8_t* bytes, std::size_t count) override {
        Check(count == 1, "one reply byte at a time");
        const std::uint8_t byte = bytes[0];
        Check(byte == 0x06 || byte == 0x15 || byte == 0x18 || byte == 'C', "unknown reply");
    }
    void ShowProgress(const telvora::TTransferProgress& progress) override {
        Check(progress.bytes >= 0 && progress.blocks >= 0 && progress.errorCount >= 0,
              "negative counter");
    }
    void Alert() override {}
    void EndTransferMode() override {}
    void ArmTimer(int intervalMs) override { Check(intervalMs > 0, "timer interval"); }
    void DisableTimer() override {}
};

class Files : public telvora::TReceiverFiles {
public:
    void Create(const std::string& path) override {
        if (batch) {
            Check(path.rfind(kFolder + "/", 0) == 0, "a file outside the folder");
            const std::string name = path.substr(kFolder.size() + 1);
            Check(!name.empty() && name != "." && name != "..", "an empty or dot name");
            Check(name.find('/') == std::string::npos, "a file in a subfolder");
            for (char c : name) {
                Check(static_cast<unsigned char>(c) >= 32, "a control character in a name");
            }
        }
        open = true;
        size = 0;
    }
    void Append(const std::uint8_t* /*data*/, std::size_t count) override {
        Check(open, "a write to a closed file");
        Check(count == 128 || count == 1024 || count == 4096, "a block of another size");
        size += count;
    }
    void Close() override {
        Check(open, "a close of a closed file");
        open = false;
    }
    void CloseQuietly() override { open = false; }
    bool IsOpen() const override { return open; }
    bool IsPlainFile(const std::string& /*path*/) override { return true; }
    void StripFill(const std::string& /*path*/) override { Check(!open, "trimming an open file"); }
    void CutTo(const std::string& /*path*/, std::uint64_t length) override {
        Check(!open, "cutting an open file");
        Check(length <= size, "cut beyond what was received");
    }

    bool batch = false;
    bool open = false;
    std::size_t size = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    Port port;
    Files files;
    telvora::TBlockReceiver receiver(port, files);
    // The first byte picks the mode; after that, 0xFE escapes a control step.
    files.batch = (data[0] & 1) != 0;
    if (files.batch) {
        receiver.StartBatch(kFolder);
    } else {
        receiver.StartSingle("/single/file");
    }
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == 0xFE && i + 1 < size) {
            const std::uint8_t step = data[++i];
            if (step < 0x80) {
                receiver.TimeoutTimer();
            } else if (step < 0x90) {
                receiver.UserCancel();
            } else if (step < 0x98) {
                receiver.TransportLost();
            } else {
                receiver.ReceiveChunk(&data[i], 1);
            }
            continue;
        }
        receiver.ReceiveChunk(&data[i], 1);
    }
    return 0;
}
