#pragma once

// A name lookup that does not answer until the test lets it (or 20 s pass),
// like a name server that has gone quiet: every lookup gives the loopback
// address once released.

#include <arpa/inet.h>
#include <netinet/in.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

namespace telvora::test {

struct BlockedLookup {
    static inline std::mutex mutex;
    static inline std::condition_variable released;
    static inline bool open = false;
    static inline int waiting = 0;

    static int Lookup(const std::string& /*name*/, in_addr_t& address) {
        std::unique_lock lock(mutex);
        ++waiting;
        released.wait_for(lock, std::chrono::seconds(20), [] { return open; });
        --waiting;
        address = htonl(INADDR_LOOPBACK);
        return 0;
    }
    static void Reset() {
        std::lock_guard lock(mutex);
        open = false;
    }
    static void Release() {
        {
            std::lock_guard lock(mutex);
            open = true;
        }
        released.notify_all();
    }
    static int Waiting() {
        std::lock_guard lock(mutex);
        return waiting;
    }
};

} // namespace telvora::test
