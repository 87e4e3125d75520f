// A peer that floods the main window's TCP client link with a hundred megabytes (or
// TRELMO_FAULT_STREAM_MB): every byte is counted and kept, the event loop keeps turning, and
// the process grows by what the table and the pane hold, not more.

#include <QTimer>
#include <algorithm>
#include <atomic>
#include <iostream>

#include "tests/common/RemoteEnds.h"
#include "tests/common/Sanitizers.h"
#include "tests/common/WindowFixture.h"

using namespace trelmo;

using namespace trelmo::test;

using TcpFlood = TcpWindow;

TEST_F(TcpFlood, IsCountedCompleteAndTheWindowStaysResponsive) {
    const qint64 total = streamMegabytes() * 1000 * 1000;
    ThreadedServer peer;
    ASSERT_GT(peer.port(), 0);
    std::atomic<bool> sentAll{false};
    std::atomic<uint64_t> sentHash{0};
    peer.serve([&](int fd) {
        RunningHash hash;
        char chunk[65536];
        qint64 at = 0;
        bool ok = true;
        while (ok && at < total) {
            const size_t n = size_t(std::min<qint64>(sizeof chunk, total - at));
            for (size_t i = 0; i < n; ++i)
                chunk[i] = char(streamByte(at + qint64(i)));
            hash.add(chunk, n);
            ok = sendAllRaw(fd, chunk, n);
            at += qint64(n);
        }
        sentHash = hash.value();
        sentAll = ok;
        // Wait for the window to close its end, then close ours.
        char sink[256];
        pollfd p{fd, POLLIN, 0};
        while (::poll(&p, 1, 60000) > 0 && ::recv(fd, sink, sizeof sink, 0) > 0) {
        }
        ::close(fd);
    });

    const qint64 rssBefore = residentBytes();
    connectClient(peer.port());
    ASSERT_TRUE(pumpUntil([&] { return form->tcpLinks()->tcpConnected(); }));

    // A zero-time timer stands for the user: it must keep getting its turn while the bytes
    // pour in. It notes how often it saw the count move on, i.e. how many times the event
    // loop came around between reads before the transfer ended.
    int loopsDuringTransfer = 0;
    qint64 lastSeen = -1;
    QTimer idle;
    idle.setInterval(0);
    QObject::connect(&idle, &QTimer::timeout, [&] {
        const qint64 now = form->receivePath()->state().ReceivedCount;
        if (now != lastSeen && now > 0 && now < total)
            ++loopsDuringTransfer;
        lastSeen = now;
    });
    idle.start();

    const bool complete =
        pumpUntil([&] { return form->receivePath()->state().ReceivedCount >= total; }, 600000);
    idle.stop();
    const qint64 rssAfter = residentBytes();
    EXPECT_TRUE(peer.accepted) << "the peer never got the connection";
    ASSERT_TRUE(complete) << form->receivePath()->state().ReceivedCount << " of " << total;
    pumpFor(100);
    EXPECT_TRUE(sentAll);
    EXPECT_EQ(form->receivePath()->state().ReceivedCount, total);
    expectCountsAgree();
    EXPECT_GE(loopsDuringTransfer, 20) << "the event loop hardly ran while the bytes arrived";

    // The table holds exactly the stream, by its hash (no second copy of the data).
    RunningHash got;
    const trelmo::ByteStore& store = (&form->receivePath()->table())->store();
    for (qsizetype i = 0; i < store.size(); ++i)
        got.add(store.value(i));
    EXPECT_EQ(got.value(), sentHash.load());
    EXPECT_EQ(store.value(0), streamByte(0));
    EXPECT_EQ(store.value(store.size() - 1), streamByte(total - 1));

    // Memory: two bytes per received byte for the table, plus the pane's text as the model
    // keeps it (two bytes per character, about 96 bytes per line of its own) and as its view's
    // text document shows it (two bytes per character, a few hundred bytes per block), plus
    // slack for the allocator and the socket buffers. A grid that kept a record of every row
    // while its window is hidden (eight bytes per byte more) does not fit.
    qint64 paneChars = 0;
    for (const QString& line : (&form->receivePath()->pane())->lines())
        paneChars += line.size();
    const qint64 paneLines = (&form->receivePath()->pane())->lineCount();
    const qint64 paneBudget = (2 * paneChars + 96 * paneLines) + (2 * paneChars + 384 * paneLines);
    const qint64 budget = 2 * total + paneBudget + 96LL * 1024 * 1024;
    const qint64 grown = rssAfter - rssBefore;
    // Under AddressSanitizer the resident size holds its shadow and quarantine: not measured.
    if (!kAddressSanitizer) {
        EXPECT_LE(grown, budget) << "grew " << grown / 1024 << " KiB for " << total
                                 << " bytes; pane " << paneChars << " chars in " << paneLines
                                 << " lines";
    }
    std::cout << "[ info ] " << total << " bytes: RSS grew " << grown / (1024 * 1024)
              << " MiB, budget " << budget / (1024 * 1024) << " MiB, " << loopsDuringTransfer
              << " loop turns\n";

    ui(form).Butt_connect->click();  // disconnect
    EXPECT_TRUE(pumpUntil([&] { return !form->tcpLinks()->tcpConnected(); }));
    peer.join();
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.lastText().toStdString();
}
