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

bool RateAccepted(uint32_t asked, uint32_t reported) {
    if (asked == 0 || reported == 0)
        return false;
    const uint64_t difference = asked > reported ? asked - reported : reported - asked;
    // |reported - asked| <= 2 % of asked, in whole numbers.
    return difference * 100 <= static_cast<uint64_t>(asked) * 2;
}

}  // namespace trelmo::serial::posix
