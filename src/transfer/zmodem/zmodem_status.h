#pragma once

#include "transfer/transfer_port.h"

#include <cstdint>
#include <string>

namespace telvora {

// The texts the transfer window shows for a ZMODEM transfer, in one place so
// the receiver, the sender and their tests say the same thing.
namespace zmodem_status {

inline const std::string kWaitingForSender = "Waiting for sender";
inline const std::string kWaitingForReceiver = "Waiting for receiver";
inline const std::string kReceiving = "Receiving data";
inline const std::string kSending = "Sending data";
inline const std::string kSkippedExists = "Skipped (exists)";
inline const std::string kSkippedComplete = "Skipped (already complete)";
inline const std::string kSkippedByReceiver = "Skipped by the receiver";
// The same words as the other protocols' windows say at a good end.
inline const std::string kComplete = kTransferCompleteText;
inline const std::string kCancelledByPeer = "Cancelled by the other side";
inline const std::string kCancelled = "Cancelled";
inline const std::string kTooManyErrors = "Too many errors";
inline const std::string kTimedOut = "Timed out";
inline const std::string kConnectionLost = "Connection lost";
inline const std::string kRetrying = "Data damaged: asking again";

inline std::string ResumingAt(std::uint64_t position) {
    return "Resuming at " + std::to_string(position);
}
inline std::string ExistsAsk(const std::string& name) {
    return name + " exists: resume, overwrite, rename or skip?";
}
// The batch ended, but the receiver refused some files: not a success.
inline std::string SkippedByReceiverAtEnd(int files) {
    return "Ended: " + std::to_string(files) + (files == 1 ? " file" : " files") +
           " skipped by the receiver";
}
inline std::string RewindingTo(std::uint64_t position) {
    return "Sending again from " + std::to_string(position);
}

} // namespace zmodem_status

} // namespace telvora
