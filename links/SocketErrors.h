#pragma once
// Socket error kinds and codes as the window reports them: every failure of the TCP links is
// told as a Windows Sockets error number (10061 for a refused connection, ...), whatever the
// platform's own code. This unit holds the one table that turns Qt's socket errors (and the
// errno behind them) into those numbers, and the exception the socket layer raises.

#include <QAbstractSocket>
#include <QString>
#include <stdexcept>

namespace trelmo {

// What the socket was doing when the error happened.
enum class ErrorEvent { eeGeneral, eeSend, eeReceive, eeConnect, eeDisconnect, eeAccept, eeLookup };

// Windows Sockets error numbers used by the links.
namespace wsa {
inline constexpr int NoAddress = 1110;  // the host name is empty: nothing to connect to
inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEBADF = 10009;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAEINPROGRESS = 10036;
inline constexpr int WSAEALREADY = 10037;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEDESTADDRREQ = 10039;
inline constexpr int WSAEMSGSIZE = 10040;
inline constexpr int WSAEPROTOTYPE = 10041;
inline constexpr int WSAENOPROTOOPT = 10042;
inline constexpr int WSAEPROTONOSUPPORT = 10043;
inline constexpr int WSAEOPNOTSUPP = 10045;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAENETUNREACH = 10051;
inline constexpr int WSAENETRESET = 10052;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAEISCONN = 10056;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAEHOSTDOWN = 10064;
inline constexpr int WSAEHOSTUNREACH = 10065;
inline constexpr int WSAHOST_NOT_FOUND = 11001;
inline constexpr int WSATRY_AGAIN = 11002;
inline constexpr int WSANO_RECOVERY = 11003;
inline constexpr int WSANO_DATA = 11004;
}  // namespace wsa

// The Windows Sockets number for an errno value; 0 for 0, -1 when the value has no counterpart.
int winsockCodeFromErrno(int errnoValue);

// The Windows Sockets number for a Qt socket error. sysErrno is the errno seen when Qt reported
// the error (0 when unknown); it refines the errors Qt lumps together (network, resource,
// unknown, remote close) and is ignored where Qt's kind is already exact.
int winsockCode(QAbstractSocket::SocketError error, int sysErrno = 0);

// A short English description of a Windows Sockets number ("Connection refused").
QString winsockErrorText(int code);

// What a Windows Sockets number means for a link to host:port, in words a user acts on:
// "connection refused: nothing listens on 127.0.0.1:5000", "connection reset by the peer",
// "host not found: meter.local". host may be empty and port 0 when they are not known.
QString winsockMeaning(int code, const QString& host = QString(), int port = 0);

// Raised by the socket layer: when a send or listen fails, or when an error handler leaves the
// error code non-zero. what() is "Socket error #<code>: <text>" followed by the context.
class ESocketError : public std::runtime_error {
  public:
    ESocketError(int code, const QString& context);
    int code() const { return code_; }

  private:
    int code_;
};

}  // namespace trelmo
