// Random bytes from a ZMODEM sender, with timer ticks, cancels, a lost line
// and answers to the existing-file question now and then: the receiver never
// crashes, writes only to a file it has opened, and every file it makes lies
// directly in the chosen folder.
#include "transfer/zmodem/zmodem_receiver.h"

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "zmodem receiver: %s\n", what);
        std::abort();
    }
}

const std::string kFolder = "/downloads";
// A name taken by a link someone left in the folder.
const std::string kLink = kFolder + "/link";

class Port : public telvora::TTransferPort {
public:
    void Send(const std::uint8_t* /*bytes*/, std::size_t count) override {
        Check(count > 0, "an empty send");
    }
    void ShowProgress(const telvora::TTransferProgress& progress) override {
        Check(progress.bytes >= 0 && progress.blocks >= 0 && progress.errorCount >= 0,
              "negative counter");
    }
    void Alert() override {}
    void EndTransferMode() override { ++ended; }
    void ArmTimer(int intervalMs) override { Check(intervalMs > 0, "timer interval"); }
    void DisableTimer() override {}
    int ended = 0;
};

class Files : public telvora::TZmodemFiles {
public:
    bool Exists(const std::string& path) override { return made.count(path) != 0; }
    bool IsPlainFile(const std::string& path) override {
        return made.count(path) != 0 && path != kLink;
    }
    std::uint64_t Length(const std::string& path) override {
        Check(made.count(path) != 0, "the length of a file that is not there");
        Check(path != kLink, "the length of a link");
        return 100;
    }
    void Create(const std::string& path) override {
        CheckName(path);
        Check(path != kLink, "a write through a link");
        made.insert(path);
        open = true;
    }
    void OpenForAppend(const std::string& path) override {
        Check(made.count(path) != 0, "appending to a file that is not there");
        Check(path != kLink, "a write through a link");
        open = true;
    }
    void Append(const std::uint8_t* /*data*/, std::size_t count) override {
        Check(open, "a write to a closed file");
        Check(count <= telvora::TZmodemDecoder::kMaxSubpacket, "a write longer than a subpacket");
    }
    void Close() override {
        Check(open, "a close of a closed file");
        open = false;
    }
    void CloseQuietly() override { open = false; }
    void SetModified(const std::string& path, std::int64_t /*seconds*/) override {
        Check(!open, "dating an open file");
        Check(made.count(path) != 0, "dating a file that is not there");
    }

    bool open = false;
    std::set<std::string> made;

private:
    static void CheckName(const std::string& path) {
        Check(path.rfind(kFolder + "/", 0) == 0, "a file outside the folder");
        const std::string name = path.substr(kFolder.size() + 1);
        Check(!name.empty() && name != "." && name != "..", "an empty or dot name");
        Check(name.find('/') == std::string::npos, "a file in a subfolder");
        for (char c : name) {
            Check(static_cast<unsigned char>(c) >= 32, "a control character in a name");
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    Port port;
    Files files;
    files.made.insert(kFolder + "/existing"); // a name a sender may well use
    files.made.insert(kLink);
    telvora::TZmodemReceiver receiver(port, files);
    // The first byte picks what happens to existing files; after that, 0xFE
    // escapes a control step.
    const auto existing = static_cast<telvora::TExistingFile>(data[0] % 5);
    receiver.Start(kFolder, existing);
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == 0xFE && i + 1 < size) {
            const std::uint8_t step = data[++i];
            if (step < 0x80) {
                receiver.TimeoutTimer();
            } else if (step < 0x88) {
                receiver.UserCancel();
            } else if (step < 0x90) {
                receiver.TransportLost();
            } else if (step < 0xA0) {
                receiver.Choose(static_cast<telvora::TExistingFile>(step % 5));
            } else {
                receiver.ReceiveChunk(&data[i], 1);
            }
            continue;
        }
        // Runs of bytes as a line delivers them, not always one at a time.
        std::size_t run = 1;
        while (i + run < size && run < 64 && data[i + run] != 0xFE) {
            ++run;
        }
        receiver.ReceiveChunk(&data[i], run);
        i += run - 1;
    }
    Check(port.ended <= 1, "ended twice");
    Check(receiver.Running() == (port.ended == 0), "running after its end");
    return 0;
}
