// The table from Qt's socket errors (and errno) to Windows Sockets numbers, their texts and the
// exception the socket layer raises.
#include <gtest/gtest.h>

#include <cerrno>
#include <set>

#include "links/SocketErrors.h"

using namespace trelmo;
using E = QAbstractSocket::SocketError;

TEST(SocketErrors, QtErrorsMapToTheirWindowsSocketsNumbers) {
    struct Case {
        E error;
        int code;
    };
    const Case cases[] = {
        {E::ConnectionRefusedError, 10061},
        {E::SocketTimeoutError, 10060},
        {E::RemoteHostClosedError, 10054},
        {E::HostNotFoundError, 11001},
        {E::AddressInUseError, 10048},
        {E::SocketAddressNotAvailableError, 10049},
        {E::SocketAccessError, 10013},
        {E::SocketResourceError, 10055},
        {E::DatagramTooLargeError, 10040},
        {E::UnsupportedSocketOperationError, 10045},
        {E::UnfinishedSocketOperationError, 10036},
        {E::TemporaryError, 10035},
        {E::OperationError, 10022},
        {E::NetworkError, 10050},
        {E::ProxyConnectionRefusedError, 10061},
        {E::ProxyConnectionTimeoutError, 10060},
        {E::ProxyNotFoundError, 11001},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(winsockCode(c.error), c.code) << "Qt error " << int(c.error);
    }
}

TEST(SocketErrors, ErrnoRefinesTheVagueQtErrorsOnly) {
    // Qt says "network error" for several distinct failures; errno names them.
    EXPECT_EQ(winsockCode(E::NetworkError, ENETUNREACH), 10051);
    EXPECT_EQ(winsockCode(E::NetworkError, EHOSTUNREACH), 10065);
    EXPECT_EQ(winsockCode(E::NetworkError, ETIMEDOUT), 10060);
    EXPECT_EQ(winsockCode(E::NetworkError, ECONNRESET), 10054);
    EXPECT_EQ(winsockCode(E::NetworkError, EACCES), 10013);
    EXPECT_EQ(winsockCode(E::NetworkError, 0), 10050);
    EXPECT_EQ(winsockCode(E::NetworkError, ENOENT), 10050) << "errno without counterpart";
    EXPECT_EQ(winsockCode(E::UnknownSocketError, EADDRNOTAVAIL), 10049);
    EXPECT_EQ(winsockCode(E::UnknownSocketError, 0), 10022);
    EXPECT_EQ(winsockCode(E::SocketResourceError, EMFILE), 10024);
    EXPECT_EQ(winsockCode(E::SocketResourceError, ENOBUFS), 10055);
    EXPECT_EQ(winsockCode(E::RemoteHostClosedError, ECONNABORTED), 10053);
    // Exact Qt errors ignore a stale errno.
    EXPECT_EQ(winsockCode(E::ConnectionRefusedError, ETIMEDOUT), 10061);
    EXPECT_EQ(winsockCode(E::AddressInUseError, EACCES), 10048);
    EXPECT_EQ(winsockCode(E::HostNotFoundError, ECONNREFUSED), 11001);
}

TEST(SocketErrors, ErrnoTableFollowsTheBerkeleyOrder) {
    // Windows Sockets numbers are 10000 + the BSD errno; check the common ones both ways.
    EXPECT_EQ(winsockCodeFromErrno(0), 0);
    EXPECT_EQ(winsockCodeFromErrno(ENOENT), -1);
    EXPECT_EQ(winsockCodeFromErrno(EINTR), 10004);
    EXPECT_EQ(winsockCodeFromErrno(EWOULDBLOCK), 10035);
    EXPECT_EQ(winsockCodeFromErrno(EINPROGRESS), 10036);
    EXPECT_EQ(winsockCodeFromErrno(EADDRINUSE), 10048);
    EXPECT_EQ(winsockCodeFromErrno(ECONNABORTED), 10053);
    EXPECT_EQ(winsockCodeFromErrno(ECONNRESET), 10054);
    EXPECT_EQ(winsockCodeFromErrno(EPIPE), 10054) << "a send after a reset";
    EXPECT_EQ(winsockCodeFromErrno(ENOTCONN), 10057);
    EXPECT_EQ(winsockCodeFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(winsockCodeFromErrno(EHOSTUNREACH), 10065);
}

TEST(SocketErrors, EveryMappedNumberHasItsOwnText) {
    std::set<int> codes;
    for (int e = 1; e < 200; ++e) {
        const int code = winsockCodeFromErrno(e);
        if (code > 0)
            codes.insert(code);
    }
    for (int q = int(E::ConnectionRefusedError); q <= int(E::OperationError); ++q) {
        codes.insert(winsockCode(E(q)));
    }
    codes.insert(wsa::NoAddress);
    EXPECT_GE(codes.size(), 30u);
    std::set<QString> texts;
    for (int code : codes) {
        const QString text = winsockErrorText(code);
        EXPECT_NE(text, QStringLiteral("Unknown error")) << code;
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), codes.size()) << "two numbers share a text";
    EXPECT_EQ(winsockErrorText(12345), QStringLiteral("Unknown error"));
    EXPECT_EQ(winsockErrorText(10061), QStringLiteral("Connection refused"));
}

TEST(SocketErrors, ExceptionNamesNumberTextAndContext) {
    const ESocketError refused(10061, QStringLiteral("on connect"));
    EXPECT_EQ(refused.code(), 10061);
    EXPECT_STREQ(refused.what(), "Socket error #10061: Connection refused, on connect");
    const ESocketError bare(10054, QString());
    EXPECT_STREQ(bare.what(), "Socket error #10054: Connection reset by peer");
}
