#include "common/posix_io.h"

#include <sys/ioctl.h>

namespace telvora {

int BytesWaiting(int fd) {
    int count = 0;
    if (fd < 0 || ::ioctl(fd, FIONREAD, &count) != 0) {
        return -1;
    }
    return count;
}

int BytesToSend(int fd) {
    int count = 0;
    if (fd < 0 || ::ioctl(fd, TIOCOUTQ, &count) != 0) {
        return 0;
    }
    return count;
}

} // namespace telvora
