#pragma once

#include "transfer/send_protocol.h"
#include "transfer/transfer_machine.h"

#include <memory>
#include <string>
#include <vector>

namespace telvora {

// What a transfer does; the window that shows it follows from it.
enum class TTransferKind {
    ReceiveFile,          // X-Modem into one file
    ReceiveBatch,         // Y-Modem or F-Modem batch into a folder
    ReceiveStreamedBatch, // Y-Modem-G batch into a folder
    ReceiveZmodem,        // ZMODEM into a folder
    SendBlocks,           // X-Modem or a Y-Modem batch
    SendZmodem,
};

struct TTransferRequest {
    TTransferKind kind = TTransferKind::ReceiveFile;
    std::string where;                                 // a download's file or folder
    std::vector<std::string> files;                    // an upload's files, in the order to send
    TSendProtocol protocol = TSendProtocol::XModemCrc; // SendBlocks only
    TExistingFile existing = TExistingFile::Ask;       // ReceiveZmodem only
    // ReceiveZmodem: the other side has begun its send (its start is held for us).
    bool senderBegan = false;

    bool IsDownload() const {
        return kind != TTransferKind::SendBlocks && kind != TTransferKind::SendZmodem;
    }
};

// The state machine (and the files it owns) that carries out the request,
// reporting through port.
std::unique_ptr<TTransferMachine> MakeTransferMachine(const TTransferRequest& request,
                                                      TTransferPort& port);

} // namespace telvora
