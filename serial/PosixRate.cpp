#include "serial/PosixRate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace trelmo::serial::posix {

int SetCustomRate(int fd, uint32_t rate) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return errno;
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = rate;
    tio.c_ospeed = rate;
    if (ioctl(fd, TCSETS2, &tio) != 0)
        return errno;
    return 0;
}

int GetRate(int fd, uint32_t& rate) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return errno;
    rate = tio.c_ospeed;
    return 0;
}

}  // namespace trelmo::serial::posix
