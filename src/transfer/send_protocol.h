#pragma once

namespace telvora {

// How an upload sends: X-Modem with 128-byte blocks, X-Modem with 1k
// blocks, or a Y-Modem batch.
enum class TSendProtocol { XModemCrc, XModem1k, YModem };

} // namespace telvora
