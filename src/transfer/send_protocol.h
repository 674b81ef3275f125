#pragma once

namespace telvora {

// How an upload sends: X-Modem with 128-byte blocks, X-Modem with 1k
// blocks, a Y-Modem batch (these three by the block sender), or ZMODEM.
enum class TSendProtocol { XModemCrc, XModem1k, YModem, Zmodem };

} // namespace telvora
