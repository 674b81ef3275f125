#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace telvora {

// A file of a transfer could not be created, written, read, closed or
// trimmed; the text names the file and the system's reason.
class ETransferFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raises "Cannot <what> <path>: <the system's reason for error>".
[[noreturn]] void ThrowFileError(const std::string& what, const std::string& path, int error);

// Makes the folder, and those above it, where missing (a fresh home has no
// download folder yet); raises ETransferFileError when it cannot.
void MakeFolder(const std::string& path);

// How a transfer ended. The window's words come from the state machine's
// status; whether the run succeeded comes from this alone.
enum class TTransferOutcome {
    Running,         // not ended yet
    Completed,       // every file arrived, or was sent and taken
    CancelledHere,   // the user's cancel
    CancelledByPeer, // the other side's cancel
    LineLost,        // the line went while the transfer ran
    TimedOut,        // the other side stopped answering
    FileError,       // a file could not be made, written or read
    Skipped,         // the receiver refused one or more files of an upload
    ProtocolError,   // the other side broke the protocol, or too many errors
};

// The status of every good ending, in every protocol.
inline const std::string kTransferCompleteText = "Transfer Complete!";

// What the transfer window shows of a download or an upload.
struct TTransferProgress {
    std::string fileName; // the file being written or read, or empty
    std::string status;
    std::int64_t bytes = 0;  // data bytes received, or sent and acknowledged
    std::int64_t blocks = 0; // blocks received, or sent and acknowledged
    int errorCount = 0;
    // The size of the file: an upload's, or what a download's header
    // announced; -1 when it is not known (an X-Modem download).
    std::int64_t totalBytes = -1;
    // The transfer has ended: the window's button reads "Close".
    bool ended = false;
    // Set with ended.
    TTransferOutcome outcome = TTransferOutcome::Running;
};

// The share of the file that has come or gone, in whole percent; none
// while its size is not known.
std::optional<int> PercentDone(const TTransferProgress& progress);

// Everything a transfer's state machine needs from outside it.
// They call it with their lock held: it must not call back.
class TTransferPort {
public:
    virtual ~TTransferPort() = default;
    // Bytes to the other side, through the live line, unpaced.
    virtual void Send(const std::uint8_t* bytes, std::size_t count) = 0;
    virtual void ShowProgress(const TTransferProgress& progress) = 0;
    // The alert sound of every ending.
    virtual void Alert() = 0;
    // The machine has ended: the line's bytes are the screen's again.
    virtual void EndTransferMode() = 0;
    // The machine ends with our cancel, these bytes, sent now or shortly:
    // what the other side still sends of the transfer is not the screen's,
    // and a side that stops without answering gets them once more. Called
    // before EndTransferMode.
    virtual void Cancelled(const std::vector<std::uint8_t>& /*cancel*/) {}
    // The block timer: a periodic tick every intervalMs, or none.
    virtual void ArmTimer(int intervalMs) = 0;
    virtual void DisableTimer() = 0;
    // A file the sender names is already there and the user is to choose;
    // the transfer waits for the answer.
    virtual void AskExisting(const std::string& /*path*/) {}
};

} // namespace telvora
