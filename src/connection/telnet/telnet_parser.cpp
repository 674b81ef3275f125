#include "connection/telnet/telnet_parser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

TTelnetParser::TTelnetParser(Sink& sink) : m_sink(sink) {}

void TTelnetParser::Feed(const std::uint8_t* bytes, int count) {
    int i = 0;
    while (i < count) {
        if (RawMode() && !RawFilter()) {
            i += CopyRun(bytes + i, count - i, false, false);
        } else if (!m_gotIac && m_pendingVerb == 0 && !m_inSubneg && !m_crPending) {
            i += CopyRun(bytes + i, count - i, true, DropsNulAfterCr());
        } else {
            ParseByte(bytes[i++]);
        }
    }
}

// Plain data is copied in runs rather than byte by byte: up to the next IAC
// (which then starts a command), through a CR whose following NUL may have to
// go, or until the buffer is full.
int TTelnetParser::CopyRun(const std::uint8_t* bytes, int count, bool stopAtIac, bool stopAfterCr) {
    const int limit = std::min(count, kReceiveBufferSize - m_count);
    int run = limit;
    bool atIac = false;
    if (stopAtIac) {
        const void* iac = std::memchr(bytes, kIac, static_cast<std::size_t>(run));
        if (iac != nullptr) {
            run = static_cast<int>(static_cast<const std::uint8_t*>(iac) - bytes);
            atIac = true;
        }
    }
    if (stopAfterCr) {
        const void* cr = std::memchr(bytes, kCr, static_cast<std::size_t>(run));
        if (cr != nullptr) {
            run = static_cast<int>(static_cast<const std::uint8_t*>(cr) - bytes) + 1;
            atIac = false;
            m_crPending = true;
        }
    }
    std::memcpy(m_buffer.data() + m_count, bytes, static_cast<std::size_t>(run));
    m_count += run;
    if (m_count >= kReceiveBufferSize) {
        Flush();
    }
    if (atIac) {
        m_gotIac = true;
        return run + 1;
    }
    return run;
}

void TTelnetParser::ParseByte(std::uint8_t b) {
    // Set only by a data byte, so it is always the byte right after the CR.
    if (m_crPending) {
        m_crPending = false;
        if (b == 0 && DropsNulAfterCr()) {
            return;
        }
    }
    if (m_pendingVerb != 0) {
        const std::uint8_t verb = m_pendingVerb;
        m_pendingVerb = 0;
        m_subnegBuffer.clear();
        m_negotiated = true;
        HandleOption(verb, b);
    } else if (m_inSubneg) {
        if (b == kSe) {
            m_inSubneg = false;
            HandleSubnegotiation();
            m_subnegBuffer.clear();
        } else if (m_subnegBuffer.size() < kMaxSubnegotiation) {
            // An IAC inside is collected like any byte, so IAC SE leaves a trailing 255.
            m_subnegBuffer.push_back(static_cast<char>(b));
        }
    } else if (m_gotIac) {
        m_gotIac = false;
        ParseCommand(b);
    } else if (b == kIac) {
        m_gotIac = true;
    } else {
        Append(b);
        m_crPending = b == kCr && DropsNulAfterCr();
    }
}

void TTelnetParser::ParseCommand(std::uint8_t b) {
    switch (b) {
    case kIac:
        Append(kIac);
        break;
    case kWill:
    case kWont:
    case kDo:
    case kDont:
        m_pendingVerb = b;
        break;
    case kSb:
        m_inSubneg = true;
        break;
    case kEor:
        Trace("TNCH_EOR\r\n");
        m_sink.EndOfRecord();
        break;
    default: {
        if (b < kEor && !m_negotiated && !m_rawPeerTold) {
            m_rawPeerTold = true;
            m_sink.RawPeerSuspected();
        }
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(b));
        Trace(std::string("Unknown ") + hex + " '" + static_cast<char>(b) + "'\r\n");
        break;
    }
    }
}

void TTelnetParser::HandleOption(std::uint8_t verb, std::uint8_t option) {
    switch (option) {
    case kOptBinary:
        HandleBinary(verb);
        break;
    case kOptSuppressGoAhead:
        if (verb == kWill) {
            Reply(kDo, option);
        }
        break;
    case kOptEcho:
        HandleEcho(verb);
        break;
    case kOptSendLocation:
        if (verb == kDo) {
            Reply(kWill, option);
            m_sink.SendLocRequested();
            SendWithSubnegotiation(option, std::string(), m_location);
        }
        break;
    case kOptTermType:
    case kOptEndOfRecord:
        if (verb == kDo) {
            Reply(kWill, option);
        }
        break;
    default:
        Reply(verb == kWill ? kDont : kWont, option);
        break;
    }
}

// Binary mode is followed both ways, so that a file with CR NUL or CR LF in it
// crosses whole whatever the server negotiates.
void TTelnetParser::HandleBinary(std::uint8_t verb) {
    switch (verb) {
    case kWill:
        Reply(kDo, kOptBinary);
        m_peerBinary.store(true, std::memory_order_relaxed);
        break;
    case kWont:
        m_peerBinary.store(false, std::memory_order_relaxed);
        break;
    case kDo:
        Reply(kWill, kOptBinary);
        m_ourBinary.store(true, std::memory_order_relaxed);
        break;
    default:
        // Acknowledged only when it changes something, so that no reply loops.
        if (m_ourBinary.exchange(false, std::memory_order_relaxed)) {
            Reply(kWont, kOptBinary);
        }
        break;
    }
}

// The peer echoing is the normal case; when it refuses, the terminal would
// have to echo itself.
void TTelnetParser::HandleEcho(std::uint8_t verb) {
    if (verb == kWill) {
        Reply(kDo, kOptEcho);
        m_localEcho.store(false, std::memory_order_relaxed);
    } else if (verb == kWont) {
        m_localEcho.store(true, std::memory_order_relaxed);
    }
    m_sink.LocalEchoChanged();
}

void TTelnetParser::HandleSubnegotiation() {
    if (m_subnegBuffer.size() < 2 || static_cast<std::uint8_t>(m_subnegBuffer[0]) != kOptTermType ||
        static_cast<std::uint8_t>(m_subnegBuffer[1]) != kTermTypeSend) {
        return;
    }
    m_sink.TermTypeRequested();
    SendWithSubnegotiation(kOptTermType, std::string(1, static_cast<char>(kTermTypeIs)),
                           m_termType);
}

void TTelnetParser::Reply(std::uint8_t verb, std::uint8_t option) {
    const std::uint8_t reply[3] = {kIac, verb, option};
    m_sink.SendReply(reply, 3);
}

void TTelnetParser::SendWithSubnegotiation(std::uint8_t option, const std::string& prefix,
                                           const std::string& text) {
    std::string out;
    out.reserve(prefix.size() + text.size() + 5);
    out.push_back(static_cast<char>(kIac));
    out.push_back(static_cast<char>(kSb));
    out.push_back(static_cast<char>(option));
    out += prefix;
    out += text;
    out.push_back(static_cast<char>(kIac));
    out.push_back(static_cast<char>(kSe));
    m_sink.SendReply(reinterpret_cast<const std::uint8_t*>(out.data()),
                     static_cast<int>(out.size()));
}

void TTelnetParser::Append(std::uint8_t b) {
    m_buffer[static_cast<std::size_t>(m_count)] = b;
    ++m_count;
    if (m_count >= kReceiveBufferSize) {
        Flush();
    }
}

void TTelnetParser::Flush() {
    if (m_count == 0) {
        return;
    }
    const int length = m_count;
    m_buffer[static_cast<std::size_t>(length)] = 0;
    // Emptied before delivery: a receiver that fails must not get the same bytes again.
    m_count = 0;
    m_sink.DataAvailable(m_buffer.data(), length);
}

void TTelnetParser::Trace(const std::string& text) {
    ++m_traceCounter;
    char number[16];
    std::snprintf(number, sizeof number, "%04X ", static_cast<unsigned>(m_traceCounter));
    m_sink.Trace(number, text);
}
