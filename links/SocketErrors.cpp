#include "links/SocketErrors.h"

#include <cerrno>
#include <utility>

namespace trelmo {

namespace {

struct ErrnoPair {
    int errnoValue;
    int winsock;
};

// errno -> Windows Sockets number. EPIPE is what Linux gives for a send on a connection the
// peer has reset; Windows reports that send as a reset, so it maps to WSAECONNRESET.
constexpr ErrnoPair kErrnoTable[] = {
    {EINTR, wsa::WSAEINTR},
    {EBADF, wsa::WSAEBADF},
    {EACCES, wsa::WSAEACCES},
    {EPERM, wsa::WSAEACCES},
    {EFAULT, wsa::WSAEFAULT},
    {EINVAL, wsa::WSAEINVAL},
    {EMFILE, wsa::WSAEMFILE},
    {ENFILE, wsa::WSAEMFILE},
    {EWOULDBLOCK, wsa::WSAEWOULDBLOCK},
    {EINPROGRESS, wsa::WSAEINPROGRESS},
    {EALREADY, wsa::WSAEALREADY},
    {ENOTSOCK, wsa::WSAENOTSOCK},
    {EDESTADDRREQ, wsa::WSAEDESTADDRREQ},
    {EMSGSIZE, wsa::WSAEMSGSIZE},
    {EPROTOTYPE, wsa::WSAEPROTOTYPE},
    {ENOPROTOOPT, wsa::WSAENOPROTOOPT},
    {EPROTONOSUPPORT, wsa::WSAEPROTONOSUPPORT},
    {EOPNOTSUPP, wsa::WSAEOPNOTSUPP},
    {EAFNOSUPPORT, wsa::WSAEAFNOSUPPORT},
    {EADDRINUSE, wsa::WSAEADDRINUSE},
    {EADDRNOTAVAIL, wsa::WSAEADDRNOTAVAIL},
    {ENETDOWN, wsa::WSAENETDOWN},
    {ENETUNREACH, wsa::WSAENETUNREACH},
    {ENETRESET, wsa::WSAENETRESET},
    {ECONNABORTED, wsa::WSAECONNABORTED},
    {ECONNRESET, wsa::WSAECONNRESET},
    {EPIPE, wsa::WSAECONNRESET},
    {ENOBUFS, wsa::WSAENOBUFS},
    {ENOMEM, wsa::WSAENOBUFS},
    {EISCONN, wsa::WSAEISCONN},
    {ENOTCONN, wsa::WSAENOTCONN},
    {ESHUTDOWN, wsa::WSAESHUTDOWN},
    {ETIMEDOUT, wsa::WSAETIMEDOUT},
    {ECONNREFUSED, wsa::WSAECONNREFUSED},
    {EHOSTDOWN, wsa::WSAEHOSTDOWN},
    {EHOSTUNREACH, wsa::WSAEHOSTUNREACH},
};

// The errno refinement, or fallback when errno says nothing useful.
int refined(int sysErrno, int fallback) {
    const int code = winsockCodeFromErrno(sysErrno);
    return code > 0 ? code : fallback;
}

}  // namespace

int winsockCodeFromErrno(int errnoValue) {
    if (errnoValue == 0)
        return 0;
    for (const auto& pair : kErrnoTable) {
        if (pair.errnoValue == errnoValue)
            return pair.winsock;
    }
    return -1;
}

int winsockCode(QAbstractSocket::SocketError error, int sysErrno) {
    using E = QAbstractSocket::SocketError;
    switch (error) {
        case E::ConnectionRefusedError:
            return wsa::WSAECONNREFUSED;
        case E::RemoteHostClosedError:
            // Qt reports both an orderly close and a reset this way; errno tells them apart.
            return sysErrno == ECONNABORTED ? wsa::WSAECONNABORTED : wsa::WSAECONNRESET;
        case E::HostNotFoundError:
            return wsa::WSAHOST_NOT_FOUND;
        case E::SocketAccessError:
            return wsa::WSAEACCES;
        case E::SocketResourceError:
            return (sysErrno == EMFILE || sysErrno == ENFILE) ? wsa::WSAEMFILE : wsa::WSAENOBUFS;
        case E::SocketTimeoutError:
            return wsa::WSAETIMEDOUT;
        case E::DatagramTooLargeError:
            return wsa::WSAEMSGSIZE;
        case E::NetworkError:
            return refined(sysErrno, wsa::WSAENETDOWN);
        case E::AddressInUseError:
            return wsa::WSAEADDRINUSE;
        case E::SocketAddressNotAvailableError:
            return wsa::WSAEADDRNOTAVAIL;
        case E::UnsupportedSocketOperationError:
            return wsa::WSAEOPNOTSUPP;
        case E::UnfinishedSocketOperationError:
            return wsa::WSAEINPROGRESS;
        case E::ProxyAuthenticationRequiredError:
            return wsa::WSAEACCES;
        case E::ProxyConnectionRefusedError:
            return wsa::WSAECONNREFUSED;
        case E::ProxyConnectionClosedError:
            return wsa::WSAECONNRESET;
        case E::ProxyConnectionTimeoutError:
            return wsa::WSAETIMEDOUT;
        case E::ProxyNotFoundError:
            return wsa::WSAHOST_NOT_FOUND;
        case E::ProxyProtocolError:
            return wsa::WSAECONNABORTED;
        case E::TemporaryError:
            return wsa::WSAEWOULDBLOCK;
        case E::OperationError:
            return wsa::WSAEINVAL;
        case E::SslHandshakeFailedError:
        case E::SslInternalError:
        case E::SslInvalidUserDataError:
            return wsa::WSAECONNABORTED;
        case E::UnknownSocketError:
            break;
    }
    return refined(sysErrno, wsa::WSAEINVAL);
}

QString winsockErrorText(int code) {
    static const std::pair<int, const char*> kTexts[] = {
        {wsa::NoAddress, "No address: the host name is empty"},
        {wsa::WSAEINTR, "Interrupted function call"},
        {wsa::WSAEBADF, "Bad file handle"},
        {wsa::WSAEACCES, "Permission denied"},
        {wsa::WSAEFAULT, "Bad address"},
        {wsa::WSAEINVAL, "Invalid argument"},
        {wsa::WSAEMFILE, "Too many open sockets"},
        {wsa::WSAEWOULDBLOCK, "Resource temporarily unavailable"},
        {wsa::WSAEINPROGRESS, "Operation now in progress"},
        {wsa::WSAEALREADY, "Operation already in progress"},
        {wsa::WSAENOTSOCK, "Socket operation on nonsocket"},
        {wsa::WSAEDESTADDRREQ, "Destination address required"},
        {wsa::WSAEMSGSIZE, "Message too long"},
        {wsa::WSAEPROTOTYPE, "Protocol wrong type for socket"},
        {wsa::WSAENOPROTOOPT, "Bad protocol option"},
        {wsa::WSAEPROTONOSUPPORT, "Protocol not supported"},
        {wsa::WSAEOPNOTSUPP, "Operation not supported"},
        {wsa::WSAEAFNOSUPPORT, "Address family not supported by protocol family"},
        {wsa::WSAEADDRINUSE, "Address already in use"},
        {wsa::WSAEADDRNOTAVAIL, "Cannot assign requested address"},
        {wsa::WSAENETDOWN, "Network is down"},
        {wsa::WSAENETUNREACH, "Network is unreachable"},
        {wsa::WSAENETRESET, "Network dropped connection on reset"},
        {wsa::WSAECONNABORTED, "Software caused connection abort"},
        {wsa::WSAECONNRESET, "Connection reset by peer"},
        {wsa::WSAENOBUFS, "No buffer space available"},
        {wsa::WSAEISCONN, "Socket is already connected"},
        {wsa::WSAENOTCONN, "Socket is not connected"},
        {wsa::WSAESHUTDOWN, "Cannot send after socket shutdown"},
        {wsa::WSAETIMEDOUT, "Connection timed out"},
        {wsa::WSAECONNREFUSED, "Connection refused"},
        {wsa::WSAEHOSTDOWN, "Host is down"},
        {wsa::WSAEHOSTUNREACH, "No route to host"},
        {wsa::WSAHOST_NOT_FOUND, "Host not found"},
        {wsa::WSATRY_AGAIN, "Nonauthoritative host not found"},
        {wsa::WSANO_RECOVERY, "This is a nonrecoverable error"},
        {wsa::WSANO_DATA, "Valid name, no data record of requested type"},
    };
    for (const auto& [number, text] : kTexts) {
        if (number == code)
            return QString::fromLatin1(text);
    }
    return QStringLiteral("Unknown error");
}

ESocketError::ESocketError(int code, const QString& context)
    : std::runtime_error(QStringLiteral("Socket error #%1: %2%3")
                             .arg(code)
                             .arg(winsockErrorText(code))
                             .arg(context.isEmpty() ? QString() : QStringLiteral(", ") + context)
                             .toStdString()),
      code_(code) {}

QString winsockMeaning(int code, const QString& host, int port) {
    const QString where = port > 0 ? host + QLatin1Char(':') + QString::number(port) : host;
    switch (code) {
        case wsa::NoAddress:
            return QStringLiteral("no host name given: nothing to connect to");
        case wsa::WSAECONNREFUSED:
            return where.isEmpty()
                       ? QStringLiteral("connection refused: nothing listens there")
                       : QStringLiteral("connection refused: nothing listens on %1").arg(where);
        case wsa::WSAETIMEDOUT:
            return where.isEmpty() ? QStringLiteral("timed out: no answer came")
                                   : QStringLiteral("timed out: no answer from %1").arg(where);
        case wsa::WSAECONNRESET:
            return QStringLiteral("connection reset by the peer");
        case wsa::WSAECONNABORTED:
            return QStringLiteral("connection aborted on this side");
        case wsa::WSAHOST_NOT_FOUND:
        case wsa::WSANO_DATA:
            return host.isEmpty() ? QStringLiteral("host not found")
                                  : QStringLiteral("host not found: %1").arg(host);
        case wsa::WSATRY_AGAIN:
            return QStringLiteral("the name server did not answer; try again");
        case wsa::WSAEHOSTUNREACH:
        case wsa::WSAEHOSTDOWN:
            return host.isEmpty() ? QStringLiteral("no route to the host")
                                  : QStringLiteral("no route to %1").arg(host);
        case wsa::WSAENETUNREACH:
        case wsa::WSAENETDOWN:
            return QStringLiteral("the network is unreachable from this machine");
        case wsa::WSAEADDRINUSE:
            return port > 0 ? QStringLiteral("port %1 is in use by another program").arg(port)
                            : QStringLiteral("the port is in use by another program");
        case wsa::WSAEACCES:
            return QStringLiteral("permission denied (ports below 1024 need privileges)");
        default:
            break;
    }
    const QString text = winsockErrorText(code);
    return text.isEmpty() ? QString() : text.left(1).toLower() + text.mid(1);
}

}  // namespace trelmo
