// The POSIX (termios) backend: raw mode, exclusive open, a drain thread that moves received
// bytes into the ring buffer, stamped with the time of each read(), and samples
// transmit-empty, modem lines and error counters.
// While the ring is full the drain thread leaves the device unread (the kernel's buffers
// fill and the far end waits) until a Read has made room.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <shared_mutex>
#include <thread>

#include "serial/PosixDevice.h"
#include "serial/PosixRate.h"
#include "serial/QueuedDevice.h"

namespace trelmo::serial {

namespace {

bool notSupported(int e) {
    return e == ENOTTY || e == EINVAL;
}

speed_t standardSpeed(uint32_t rate) {
    switch (rate) {
        case 50:
            return B50;
        case 75:
            return B75;
        case 110:
            return B110;
        case 134:
            return B134;
        case 150:
            return B150;
        case 200:
            return B200;
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 1800:
            return B1800;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 500000:
            return B500000;
        case 576000:
            return B576000;
        case 921600:
            return B921600;
        case 1000000:
            return B1000000;
        default:
            return 0;
    }
}

class PosixDevice : public QueuedDevice {
  public:
    explicit PosixDevice(int fd) : fd_(fd) {
        struct stat st {};
        // Unix98 pseudo-terminal slaves have majors 136..143.
        isPty_ = fstat(fd_, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 &&
                 major(st.st_rdev) <= 143;
        wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        cancelFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        int lines = 0;
        modemSupported_ = ioctl(fd_, TIOCMGET, &lines) == 0;
        lines_ = lines;
        serial_icounter_struct ic{};
        icountSupported_ = ioctl(fd_, TIOCGICOUNT, &ic) == 0;
        base_ = ic;
        drain_ = std::thread([this] { DrainLoop(); });
    }
    ~PosixDevice() override { Close(); }

    int SetState(const TVaDcb& dcb) override {
        std::shared_lock io(ioMutex_);
        if (fd_ < 0)
            return EBADF;
        if (int lost = LostCode())
            return lost;
        termios tio{};
        if (tcgetattr(fd_, &tio) != 0)
            return errno;
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cflag &= ~(HUPCL | CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
        tio.c_iflag &= ~(INPCK | IXON | IXOFF | IXANY);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        switch (dcb.ByteSize) {
            case 5:
                tio.c_cflag |= CS5;
                break;
            case 6:
                tio.c_cflag |= CS6;
                break;
            case 7:
                tio.c_cflag |= CS7;
                break;
            case 8:
                tio.c_cflag |= CS8;
                break;
            default:
                return EINVAL;
        }
        switch (dcb.Parity) {
            case 0:
                break;
            case 1:
                tio.c_cflag |= PARENB | PARODD;
                break;
            case 2:
                tio.c_cflag |= PARENB;
                break;
            case 3:
                tio.c_cflag |= PARENB | PARODD | CMSPAR;
                break;
            case 4:
                tio.c_cflag |= PARENB | CMSPAR;
                break;
            default:
                return EINVAL;
        }
        if (dcb.StopBits == 1 || dcb.StopBits == 2)
            tio.c_cflag |= CSTOPB;
        if (dcb.Flags & fParity)
            tio.c_iflag |= INPCK;
        const uint32_t rts = dcb.Flags & fRtsControlMask;
        if ((dcb.Flags & fOutxCtsFlow) || rts == 0x2000)
            tio.c_cflag |= CRTSCTS;
        if (dcb.Flags & fOutX)
            tio.c_iflag |= IXON;
        if (dcb.Flags & fInX)
            tio.c_iflag |= IXOFF;
        tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
        tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
        const speed_t std = standardSpeed(dcb.BaudRate);
        if (std) {
            cfsetispeed(&tio, std);
            cfsetospeed(&tio, std);
        }
        if (dcb.BaudRate == 0)
            return EINVAL;
        if (tcsetattr(fd_, TCSANOW, &tio) != 0) {
            // glibc reports EINVAL when the driver did not take the character size or
            // parity; a pseudo-terminal always forces 8 bits without parity. The rest of
            // the settings did apply.
            const int e = errno;
            if (!(e == EINVAL && isPty_))
                return e;
        }
        if (!std) {
            if (int e = posix::SetCustomRate(fd_, dcb.BaudRate))
                return e;
        }
        // The driver may have taken the nearest rate it can make: close enough will do.
        uint32_t actual = 0;
        if (int e = posix::GetRate(fd_, actual))
            return e;
        if (!posix::RateAccepted(dcb.BaudRate, actual))
            return EINVAL;
        // open() raised DTR and RTS: the first block decides them, later blocks only touch
        // a line whose control field changed.
        const ModemLineControl::Levels levels = lineControl_.For(dcb);
        if (levels.dtr) {
            if (int e = ModemLine(TIOCM_DTR, *levels.dtr))
                return e;
        }
        if (levels.rts) {
            if (int e = ModemLine(TIOCM_RTS, *levels.rts))
                return e;
        }
        lineControl_.Applied(dcb);
        return 0;
    }

    int Escape(int function) override {
        std::shared_lock io(ioMutex_);
        if (fd_ < 0)
            return EBADF;
        if (int lost = LostCode())
            return lost;
        switch (function) {
            case SETRTS:
                return ModemLine(TIOCM_RTS, true);
            case CLRRTS:
                return ModemLine(TIOCM_RTS, false);
            case SETDTR:
                return ModemLine(TIOCM_DTR, true);
            case CLRDTR:
                return ModemLine(TIOCM_DTR, false);
            default:
                return EINVAL;
        }
    }

    int Write(const uint8_t* data, size_t count, size_t& written, int timeoutMs) override {
        written = 0;
        std::shared_lock io(ioMutex_);
        if (fd_ < 0)
            return EBADF;
        if (int lost = LostCode())
            return lost;
        const auto start = std::chrono::steady_clock::now();
        int result = 0;
        while (written < count) {
            if (cancelled_.exchange(false)) {
                result = ECANCELED;
                break;
            }
            ssize_t n = ::write(fd_, data + written, count - written);
            if (n > 0) {
                written += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN) {
                result = errno;
                break;
            }
            int wait = -1;
            if (timeoutMs >= 0) {
                auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
                if (spent >= timeoutMs) {
                    result = ETIMEDOUT;
                    break;
                }
                wait = static_cast<int>(timeoutMs - spent);
            }
            pollfd fds[2] = {{fd_, POLLOUT, 0}, {cancelFd_, POLLIN, 0}};
            if (poll(fds, 2, wait) < 0 && errno != EINTR) {
                result = errno;
                break;
            }
            if (fds[1].revents & POLLIN) {
                uint64_t v;
                [[maybe_unused]] auto r = ::read(cancelFd_, &v, sizeof v);
            }
            if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
                result = EIO;
                break;
            }
        }
        if (written > 0) {
            txPending_ = true;
            uint64_t one = 1;
            [[maybe_unused]] auto r = ::write(wakeFd_, &one, sizeof one);
        }
        return result;
    }

    void CancelIo() override {
        cancelled_ = true;
        uint64_t one = 1;
        [[maybe_unused]] auto r = ::write(cancelFd_, &one, sizeof one);
    }

    void Close() override {
        if (!MarkClosed())
            return;
        CancelIo();
        stop_ = true;
        uint64_t one = 1;
        [[maybe_unused]] auto r = ::write(wakeFd_, &one, sizeof one);
        if (drain_.joinable())
            drain_.join();
        std::unique_lock io(ioMutex_);
        ioctl(fd_, TIOCNXCL);
        ::close(fd_);
        fd_ = -1;
        ::close(wakeFd_);
        wakeFd_ = -1;
        ::close(cancelFd_);
        cancelFd_ = -1;
    }

  protected:
    // A Read made room while the drain thread was held back: wake it to read again.
    void RoomMade() override {
        std::shared_lock io(ioMutex_);
        if (wakeFd_ < 0)
            return;
        uint64_t one = 1;
        [[maybe_unused]] auto r = ::write(wakeFd_, &one, sizeof one);
    }

    uint32_t OutQueued() const override {
        std::shared_lock io(ioMutex_);
        int n = 0;
        if (fd_ < 0 || ioctl(fd_, TIOCOUTQ, &n) != 0)
            return 0;
        return static_cast<uint32_t>(n);
    }

  private:
    int LostCode() const {
        int code = 0;
        Lost(&code);
        return code;
    }

    int ModemLine(int line, bool on) {
        if (!modemSupported_)
            return 0;
        int bits = line;
        if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits) != 0) {
            return notSupported(errno) ? 0 : errno;
        }
        return 0;
    }

    void Sample() {
        if (txPending_) {
            int n = 0;
            unsigned int lsr = 0;
            bool empty;
            if (ioctl(fd_, TIOCSERGETLSR, &lsr) == 0) {
                empty = (lsr & TIOCSER_TEMT) != 0;
            } else {
                empty = ioctl(fd_, TIOCOUTQ, &n) != 0 || n == 0;
            }
            if (empty) {
                txPending_ = false;
                Raise(EV_TXEMPTY);
            }
        }
        if (modemSupported_) {
            int lines = 0;
            if (ioctl(fd_, TIOCMGET, &lines) == 0) {
                const int diff = lines ^ lines_;
                uint32_t ev = 0;
                if (diff & TIOCM_CTS)
                    ev |= EV_CTS;
                if (diff & TIOCM_DSR)
                    ev |= EV_DSR;
                if (diff & TIOCM_CD)
                    ev |= EV_RLSD;
                if ((diff & TIOCM_RI) && (lines & TIOCM_RI))
                    ev |= EV_RING;
                lines_ = lines;
                if (ev)
                    Raise(ev);
            } else if (notSupported(errno)) {
                modemSupported_ = false;
            }
        }
        if (icountSupported_) {
            serial_icounter_struct ic{};
            if (ioctl(fd_, TIOCGICOUNT, &ic) == 0) {
                uint32_t flags = 0;
                if (ic.frame != base_.frame)
                    flags |= CE_FRAME;
                if (ic.parity != base_.parity)
                    flags |= CE_RXPARITY;
                if (ic.overrun != base_.overrun)
                    flags |= CE_OVERRUN;
                if (ic.buf_overrun != base_.buf_overrun)
                    flags |= CE_RXOVER;
                if (ic.brk != base_.brk)
                    flags |= CE_BREAK;
                // Each overrun of the UART lost at least one byte; the driver counts every
                // byte its buffer dropped.
                const uint64_t lost = CounterDelta(ic.overrun, base_.overrun) +
                                      CounterDelta(ic.buf_overrun, base_.buf_overrun);
                base_ = ic;
                AddErrors(flags, lost);
            }
        }
    }

    // How far a cumulative driver counter moved (it wraps as an unsigned 32-bit number).
    static uint64_t CounterDelta(int now, int before) {
        return static_cast<uint32_t>(now) - static_cast<uint32_t>(before);
    }

    void DrainLoop() {
        std::vector<uint8_t> chunk(65536);
        // Bytes read from the device that the ring has not taken yet: offered again first,
        // with the time they were read.
        size_t keptFrom = 0, keptTo = 0;
        int64_t keptNs = 0;
        // The device hung up while held back; it is given up once those bytes are in.
        bool hungUp = false;
        while (!stop_) {
            if (keptFrom < keptTo)
                keptFrom += Push(chunk.data() + keptFrom, keptTo - keptFrom, keptNs);
            // A full ring holds the device back: its bytes stay in the kernel and the far end
            // waits until a Read makes room (RoomMade then wakes this poll).
            const bool reading = keptFrom == keptTo && !Held();
            const bool sampling = txPending_ || modemSupported_ || icountSupported_;
            pollfd fds[2] = {{hungUp ? -1 : fd_, static_cast<short>(reading ? POLLIN : 0), 0},
                             {wakeFd_, POLLIN, 0}};
            int r = poll(fds, 2, sampling ? (txPending_ ? 2 : 20) : -1);
            if (stop_)
                break;
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                MarkLost(errno);
                break;
            }
            if (fds[1].revents & POLLIN) {
                uint64_t v;
                [[maybe_unused]] auto n = ::read(wakeFd_, &v, sizeof v);
            }
            bool gone = false;
            int code = EIO;
            if (reading && (fds[0].revents & (POLLIN | POLLERR | POLLHUP))) {
                // Read until empty or until the ring is full, never more than it has room
                // for; 0 or EIO after POLLHUP/POLLERR means the device is gone.
                for (;;) {
                    const size_t room = std::min(chunk.size(), RingFree());
                    if (room == 0)
                        break;
                    ssize_t n = ::read(fd_, chunk.data(), room);
                    if (n > 0) {
                        // The bytes arrived now, however late the port reads them.
                        keptNs = ArrivalClockNs();
                        keptFrom = 0;
                        keptTo = static_cast<size_t>(n);
                        keptFrom += Push(chunk.data(), keptTo, keptNs);
                        if (keptFrom < keptTo)
                            break;
                        continue;
                    }
                    if (n < 0 && errno == EINTR)
                        continue;
                    if (n < 0 && errno == EAGAIN)
                        break;
                    // With VMIN = VTIME = 0 a read returns 0 both for "nothing queued" and
                    // for a vanished device: only a hang-up or error tells them apart.
                    if (n == 0 && !(fds[0].revents & (POLLHUP | POLLERR)))
                        break;
                    gone = true;
                    if (n < 0)
                        code = errno;
                    break;
                }
            } else if (!reading && (fds[0].revents & (POLLERR | POLLHUP))) {
                // Hung up while held back: a hung-up terminal has nothing left to read, and
                // polling it again would return at once. The bytes in the ring stay readable.
                hungUp = true;
            }
            if (hungUp && keptFrom == keptTo)
                gone = true;
            if (fds[0].revents & POLLNVAL)
                gone = true;
            if (gone) {
                MarkLost(code);
                break;
            }
            Sample();
        }
    }

    int fd_;
    int wakeFd_ = -1;
    int cancelFd_ = -1;
    mutable std::shared_mutex ioMutex_;
    std::thread drain_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> txPending_{false};
    // Set by CancelIo until a Write sees it: a cancel that comes just before a Write starts
    // still ends that Write.
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> modemSupported_{false};
    bool icountSupported_ = false;
    bool isPty_ = false;
    ModemLineControl lineControl_;  // used by SetState only, which is never called twice at once
    int lines_ = 0;
    serial_icounter_struct base_{};
};

}  // namespace

namespace posix {

std::shared_ptr<CommDevice> OpenPosixDevice(const QString& path, int& err) {
    const QByteArray native = path.toLocal8Bit();
    int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        err = errno;
        return nullptr;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        err = (errno == EWOULDBLOCK) ? EBUSY : errno;
        ::close(fd);
        return nullptr;
    }
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        err = errno;
        ::close(fd);
        return nullptr;
    }
    if (ioctl(fd, TIOCEXCL) != 0 && !notSupported(errno)) {
        err = errno;
        ::close(fd);
        return nullptr;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~HUPCL;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        err = errno;
        ::close(fd);
        return nullptr;
    }
    err = 0;
    return std::make_shared<PosixDevice>(fd);
}

}  // namespace posix
}  // namespace trelmo::serial
