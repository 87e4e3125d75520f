// Reopen benchmark: the real main window on a pseudo-terminal whose far end vanishes and comes
// back again and again, each time as a new pty pair behind the same stable link (as a USB
// adapter that is pulled and plugged in comes back behind its /dev/serial/by-id link, often
// under another ttyUSB number), with bytes fed while the port is open.
//
// Reported: the cycles, the "reopened" pane lines, the boxes shown, whether every byte fed while
// the port was open is in the capture, the process's descriptors after the first open and at the
// end, and the time from the device's return to the port's reopening (median and worst).
//
//   trelmo_reopen_bench [--cycles N] [--bytes N]     defaults: 20 cycles of 64 KiB

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QToolButton>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/Windows.h"
#include "terminal/control/Controllers.h"
#include "widgets/Application.h"
#include "widgets/Dialogs.h"

using namespace trelmo;

namespace {

int openDescriptors() {
    int count = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d))
            ++count;
        ::closedir(d);
    }
    return count;
}

// Counts the boxes instead of showing them.
class CountingDialogs : public DialogProvider {
  public:
    int shown = 0;
    MsgResult message(const MessageRequest& request) override {
        ++shown;
        std::fprintf(stderr, "box: %s\n", qPrintable(request.text));
        return MsgResult::Ok;
    }
    std::optional<QString> openFile(const FileDialogRequest&) override { return std::nullopt; }
    std::optional<QString> saveFile(const FileDialogRequest&) override { return std::nullopt; }
    bool print(QWidget*, QPrinter&) override { return false; }
};

struct Pty {
    int master = -1;
    QString slave;
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            return;
        char name[128] = {};
        if (ptsname_r(master, name, sizeof name) == 0)
            slave = QString::fromLocal8Bit(name);
    }
    ~Pty() { closeMaster(); }
    void closeMaster() {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
};

bool waitFor(const std::function<bool()>& done, int ms = 30000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

QByteArray bytesOfCycle(int cycle, int size) {
    QByteArray out;
    out.reserve(size);
    while (out.size() < size)
        out += QByteArray("cycle ") + QByteArray::number(cycle) + " byte " +
               QByteArray::number(out.size()) + "\r\n";
    out.truncate(size);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TrelmoApplication app(argc, argv);
    int cycles = 20;
    int bytes = 64 * 1024;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--cycles"))
            cycles = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--bytes"))
            bytes = args[i + 1].toInt();
    }

    CountingDialogs boxes;
    setDialogProvider(&boxes);
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("by-id"));
    const QString link = dir.filePath(QStringLiteral("by-id/usb-Bench_Adapter-if00-port0"));
    auto plug = [&](Pty& pty) {
        QFile::remove(link);
        QFile::link(pty.slave, link);
    };

    int reopenedLines = 0;
    bool keptAll = false;
    int descriptorsFirst = 0, descriptorsEnd = 0;
    std::vector<double> reopenMs;
    {
        Windows windows(dir.filePath(QStringLiteral("trelmo.ini")));
        TForm1* form = windows.form1();
        form->serialLink()->deviceSystem.byIdFolder = dir.filePath(QStringLiteral("by-id"));
        form->findChild<QAction*>(QStringLiteral("Action_reopen"))->setChecked(true);

        auto pty = std::make_unique<Pty>();
        plug(*pty);
        form->findChild<QComboBox*>(QStringLiteral("Combo_parity"))->setEditText("None");
        form->serialLink()->chooseParity(QStringLiteral("None"));
        form->serialLink()->toggle(link, QStringLiteral("9600"));
        if (!form->serialLink()->portOpen()) {
            std::fprintf(stderr, "the port did not open\n");
            return 1;
        }
        descriptorsFirst = openDescriptors();
        QByteArray fed;
        for (int cycle = 0; cycle < cycles; ++cycle) {
            const QByteArray chunk = bytesOfCycle(cycle, bytes);
            qint64 done = 0;
            while (done < chunk.size()) {
                const ssize_t n = ::write(pty->master, chunk.constData() + done,
                                          static_cast<size_t>(chunk.size() - done));
                if (n > 0)
                    done += n;
                QCoreApplication::processEvents();
            }
            fed += chunk;
            if (!waitFor([&] { return form->receivePath()->receivedCount() == fed.size(); }))
                break;
            pty->closeMaster();
            QFile::remove(link);  // as udev does when the adapter goes
            if (!waitFor([&] { return form->serialLink()->waiting(); }))
                break;
            pty = std::make_unique<Pty>();
            QElapsedTimer back;
            back.start();
            plug(*pty);
            if (!waitFor([&] { return !form->serialLink()->waiting(); }))
                break;
            reopenMs.push_back(double(back.elapsed()));
        }
        keptAll = form->receivePath()->table().bytes() == fed;
        for (const QString& line : form->receivePath()->pane().lines())
            if (line.startsWith(QStringLiteral("Port ")) &&
                line.contains(QStringLiteral(" reopened at ")))
                ++reopenedLines;
        descriptorsEnd = openDescriptors();
        form->serialLink()->disconnectPort();
    }
    setDialogProvider(nullptr);

    std::sort(reopenMs.begin(), reopenMs.end());
    QJsonObject r;
    r["cycles"] = cycles;
    r["reopened_lines"] = reopenedLines;
    r["boxes"] = boxes.shown;
    r["kept_all"] = keptAll;
    r["descriptors_after_first_open"] = descriptorsFirst;
    r["descriptors_at_end"] = descriptorsEnd;
    r["reopen_ms_median"] = reopenMs.empty() ? -1.0 : reopenMs[reopenMs.size() / 2];
    r["reopen_ms_worst"] = reopenMs.empty() ? -1.0 : reopenMs.back();
    std::printf("%s\n", QJsonDocument(r).toJson(QJsonDocument::Compact).constData());
    const bool ok = reopenedLines == cycles && boxes.shown == 0 && keptAll &&
                    descriptorsEnd == descriptorsFirst;
    return ok ? 0 : 1;
}
