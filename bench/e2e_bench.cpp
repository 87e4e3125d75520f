// End-to-end receive benchmark through the real main window on a pseudo-terminal.
//
// Each run is a fresh process: the main window (and the byte table window where asked) is
// built as the program builds it, connects to the slave side of a new pty pair the way a user
// does, and a feeder process writes SIZE bytes into the master side as fast as the pty takes
// them (64 KiB writes of 64-byte lines: an 8-digit number, a blank, 53 characters, CR LF).
// A run ends when the window has counted every byte and its pane has caught up.
//
// Reported per run: MiB/s from the first write to the end, resident memory growth per
// received byte, the worst gap between ticks of a 10 ms timer (how long the window stayed
// deaf), whether every byte arrived (count, table rows, last table cell), and for the probe
// scenario the keystroke-to-wire latency of a command typed while the feed runs.
//
// The bare reader (scenario "bare") is a process reading the same kind of pty pair with a plain
// read() loop of 64 KiB pieces, fed the same way: the ceiling the window is compared with, in
// the same session.
//
//   trelmo_e2e_bench [--runs N] [SCENARIO...]       runs each scenario N times (default 5),
//                                                   interleaved, each in a child process, and
//                                                   prints the medians
//   trelmo_e2e_bench --child SCENARIO BYTES         one run; prints one JSON line
//
// Scenarios: bare, text, hex, table (text with the byte table window open), unending (one
// line without any line break), probe (a command typed every 200 ms during a 50 MiB feed), log
// (text with the log to file on, raw: the file must then hold exactly the bytes fed; how long
// after the last byte was shown the file held it all is reported as log_lag_ms), stamps and
// stampshex (text and hex with Tools > Time stamps on), logstamps (the raw log and the stamps
// both on). The log's rate is compared with the text's, and the stamps' with text's and hex's:
// the median of the rounds' ratios.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/Windows.h"
#include "core/capture/LogWriter.h"
#include "core/receive/ByteTableModel.h"
#include "terminal/ReceivePaneView.h"
#include "terminal/control/Captures.h"
#include "terminal/control/Controllers.h"
#include "widgets/Application.h"

using namespace trelmo;

namespace {

// The controls the benchmark drives, found by their objectName as any automation finds them.
struct Controls {
    QPushButton* Butt_additional;
    QCheckBox* Check_hex;
    QComboBox* Combo_com;
    QToolButton* BitBtn2;
    QComboBox* Edit_send;
    ReceivePaneView* Memo_receive;
};

Controls ui(const TForm1* form) {
    auto find = [form](auto* type, const char* name) {
        return form->findChild<std::remove_pointer_t<decltype(type)>*>(QString::fromLatin1(name));
    };
    return Controls{find(static_cast<QPushButton*>(nullptr), "Butt_additional"),
                    find(static_cast<QCheckBox*>(nullptr), "Check_hex"),
                    find(static_cast<QComboBox*>(nullptr), "Combo_com"),
                    find(static_cast<QToolButton*>(nullptr), "BitBtn2"),
                    find(static_cast<QComboBox*>(nullptr), "Edit_send"),
                    find(static_cast<ReceivePaneView*>(nullptr), "Memo_receive")};
}

using Clock = std::chrono::steady_clock;
constexpr qint64 kMiB = 1024 * 1024;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

long residentBytes() {
    FILE* f = std::fopen("/proc/self/statm", "r");
    long size = 0, resident = 0;
    if (f) {
        if (std::fscanf(f, "%ld %ld", &size, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

// CPU seconds of every thread of this process by thread id; the GUI thread (this one) is
// called "gui".
std::map<QString, double> threadTimes() {
    std::map<QString, double> out;
    const long tick = sysconf(_SC_CLK_TCK);
    const QString self = QString::number(gettid());
    for (const QString& tid :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray stat = f.readAll();
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 13)
            continue;
        out[tid == self ? QStringLiteral("gui") : tid] =
            double(fields[11].toLongLong() + fields[12].toLongLong()) / tick;
    }
    return out;
}

// CPU seconds each thread spent between two snapshots (threads that ended are left out).
QJsonObject threadTimesSince(const std::map<QString, double>& before) {
    QJsonObject out;
    for (const auto& [tid, cpu] : threadTimes()) {
        const auto it = before.find(tid);
        const double spent = cpu - (it == before.end() ? 0.0 : it->second);
        if (spent >= 0.02)
            out[tid] = spent;
    }
    return out;
}

// 64-byte numbered lines ending in CR LF, or one line without any break.
QByteArray payload(qint64 size, bool unending) {
    static const char alpha[] =
        "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ!#$%&()*+,-./:;<=>?@";
    const int alphaLen = static_cast<int>(sizeof alpha - 1);
    QByteArray out;
    out.reserve(size + 64);
    for (qint64 i = 0; out.size() < size; ++i) {
        char line[65];
        std::snprintf(line, sizeof line, "%08lld ", static_cast<long long>(i % 100000000));
        for (int k = 0; k < 53; ++k)
            line[9 + k] = alpha[(i + k) % alphaLen];
        line[62] = unending ? '.' : '\r';
        line[63] = unending ? ' ' : '\n';
        out.append(line, 64);
    }
    out.truncate(size);
    return out;
}

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
    ~Pty() {
        if (master >= 0)
            ::close(master);
    }
};

// Writes everything in 64 KiB pieces, blocking while the pty is full.
constexpr qint64 kPiece = 64 * 1024;
void writeAll(int fd, const QByteArray& data) {
    qint64 done = 0;
    while (done < data.size()) {
        const ssize_t n =
            ::write(fd, data.constData() + done,
                    static_cast<size_t>(std::min<qint64>(kPiece, data.size() - done)));
        if (n > 0)
            done += n;
        else if (n < 0 && errno != EINTR && errno != EAGAIN)
            return;
    }
}

QJsonObject runBare(qint64 size) {
    // A reader process of its own on the slave side, as a terminal program would be; this
    // process only writes and waits for it.
    Pty pty;
    const QByteArray data = payload(size, false);
    const QByteArray path = pty.slave.toLocal8Bit();
    int done[2];
    if (pipe(done) != 0)
        return {};
    const pid_t reader = fork();
    if (reader == 0) {
        const int slave = ::open(path.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios tio{};
        tcgetattr(slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
        const char ready = 'r';
        [[maybe_unused]] auto w = ::write(done[1], &ready, 1);
        std::vector<char> buf(kPiece);
        qint64 got = 0;
        while (got < size) {
            const ssize_t n = ::read(slave, buf.data(), buf.size());
            if (n > 0)
                got += n;
            else if (n < 0 && errno != EINTR)
                break;
        }
        const char end = got == size ? 'k' : 'x';
        [[maybe_unused]] auto w2 = ::write(done[1], &end, 1);
        _exit(0);
    }
    ::close(done[1]);
    char flag = 0;
    [[maybe_unused]] auto r0 = ::read(done[0], &flag, 1);  // the reader has the slave open
    const auto t0 = Clock::now();
    writeAll(pty.master, data);
    [[maybe_unused]] auto r1 = ::read(done[0], &flag, 1);
    const double s = seconds(Clock::now() - t0);
    ::close(done[0]);
    waitpid(reader, nullptr, 0);
    QJsonObject r;
    r["mibps"] = double(size) / kMiB / s;
    r["kept_all"] = flag == 'k';
    return r;
}

QJsonObject runWindow(const QString& scenario, qint64 size) {
    const bool unending = scenario == QLatin1String("unending");
    const bool probe = scenario == QLatin1String("probe");
    const bool log = scenario == QLatin1String("log") || scenario == QLatin1String("logstamps");
    Pty pty;
    const QByteArray data = payload(size, unending);
    QTemporaryDir dir;
    Windows windows(QDir(dir.path()).filePath(QStringLiteral("trelmo.ini")));
    TForm1* form = windows.form1();
    form->show();
    const QString logPath = QDir(dir.path()).filePath(QStringLiteral("e2e.log"));
    if (log && !form->captures()->startLog(logPath, LogMode::Raw)) {
        QJsonObject r;
        r["error"] = QStringLiteral("the log did not open");
        return r;
    }
    if (scenario == QLatin1String("table"))
        ui(form).Butt_additional->click();
    if (scenario == QLatin1String("hex") || scenario == QLatin1String("stampshex"))
        ui(form).Check_hex->setChecked(true);
    if (scenario.startsWith(QLatin1String("stamps")) || scenario == QLatin1String("logstamps")) {
        QAction* stamps = form->findChild<QAction*>(QStringLiteral("Action_timestamps"));
        if (!stamps) {
            QJsonObject r;
            r["error"] = QStringLiteral("no Action_timestamps");
            return r;
        }
        stamps->setChecked(true);
    }
    ui(form).Combo_com->setEditText(pty.slave);
    form->serialLink()->chooseComName(ui(form).Combo_com->currentText());
    ui(form).BitBtn2->click();
    QJsonObject r;
    if (!form->serialLink()->portOpen()) {
        r["error"] = QStringLiteral("the port did not open");
        return r;
    }
    // Settle, then take the baseline.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const long rss0 = residentBytes();

    // Keystroke-to-wire: what the port writes arrives on the master side.
    std::atomic<bool> stop{false};
    std::mutex probeMutex;
    std::vector<Clock::time_point> typed, arrived;
    std::thread echoReader;
    if (probe) {
        echoReader = std::thread([&] {
            char b[256];
            while (!stop) {
                pollfd p{pty.master, POLLIN, 0};
                if (poll(&p, 1, 50) <= 0)
                    continue;
                const ssize_t n = ::read(pty.master, b, sizeof b);
                const auto now = Clock::now();
                std::lock_guard l(probeMutex);
                for (ssize_t i = 0; i < n; ++i)
                    if (b[i] == 'z')
                        arrived.push_back(now);
            }
        });
    }
    QTimer prober;
    QObject::connect(&prober, &QTimer::timeout, [&] {
        // As keys arrive from the window system: queued behind whatever the loop has.
        QWidget* edit = ui(form).Edit_send;
        {
            std::lock_guard l(probeMutex);
            typed.push_back(Clock::now());
        }
        QCoreApplication::postEvent(
            edit, new QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier));
        QCoreApplication::postEvent(
            edit, new QKeyEvent(QEvent::KeyPress, Qt::Key_Z, Qt::NoModifier, QStringLiteral("z")));
        QCoreApplication::postEvent(edit, new QKeyEvent(QEvent::KeyPress, Qt::Key_Return,
                                                        Qt::NoModifier, QStringLiteral("\r")));
    });

    // The worst gap between ticks of a 10 ms timer while the feed runs.
    Clock::time_point lastTick = Clock::now();
    double worstGap = 0;
    bool feeding = true;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        if (feeding)
            worstGap = std::max(worstGap, seconds(now - lastTick));
        lastTick = now;
    });

    const std::map<QString, double> cpu0 = threadTimes();
    const auto t0 = Clock::now();
    lastTick = t0;
    ticker.start();
    if (probe)
        prober.start(200);
    // The far end is a process of its own, as it would be (it shares nothing with the window
    // but the pty).
    const pid_t writer = fork();
    if (writer == 0) {
        writeAll(pty.master, data);
        _exit(0);
    }
    QElapsedTimer limit;
    limit.start();
    while (form->receivePath()->state().ReceivedCount < size && limit.elapsed() < 600000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    // The pane catches up on its next update.
    while (ui(form).Memo_receive->hasPending() && limit.elapsed() < 600000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const auto received = Clock::now();
    const double s = seconds(received - t0);
    // The log is on disk within moments of the last byte (its writer gathers for a tenth of a
    // second at most): how long after, reported apart from the rate.
    while (log && form->captures()->logWriter()->writtenBytes() < size && limit.elapsed() < 600000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (log)
        r["log_lag_ms"] = seconds(Clock::now() - received) * 1000;
    const QJsonObject cpu = threadTimesSince(cpu0);
    feeding = false;
    prober.stop();
    ticker.stop();
    waitpid(writer, nullptr, 0);
    const long rss1 = residentBytes();
    if (probe) {
        QElapsedTimer wait;
        wait.start();
        while (wait.elapsed() < 3000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            std::lock_guard l(probeMutex);
            if (arrived.size() >= typed.size())
                break;
        }
        stop = true;
        echoReader.join();
        std::vector<double> lat;
        for (size_t i = 0; i < std::min(typed.size(), arrived.size()); ++i)
            lat.push_back(seconds(arrived[i] - typed[i]) * 1000);
        std::sort(lat.begin(), lat.end());
        r["probes"] = static_cast<int>(typed.size());
        r["answered"] = static_cast<int>(arrived.size());
        r["probe_median_ms"] = lat.empty() ? -1.0 : lat[lat.size() / 2];
        r["probe_max_ms"] = lat.empty() ? -1.0 : lat.back();
    }
    const trelmo::ByteTableModel* table = (&form->receivePath()->table());
    const bool lastCellRight =
        table->receivedCount() == size &&
        table->gridCell(2, static_cast<int>(size)) ==
            QStringLiteral("0x%1")
                .arg(static_cast<uint8_t>(data.back()), 2, 16, QLatin1Char('0'))
                .toUpper()
                .replace(QLatin1String("0X"), QLatin1String("0x"));
    r["mibps"] = double(size) / kMiB / s;
    r["rss_per_byte"] = double(rss1 - rss0) / double(size);
    r["worst_gap_ms"] = worstGap * 1000;
    r["received"] = form->receivePath()->state().ReceivedCount;
    bool logRight = true;
    if (log) {
        form->captures()->stopLog();
        QFile file(logPath);
        logRight = file.open(QIODevice::ReadOnly) && file.readAll() == data;
        r["log_right"] = logRight;
    }
    r["kept_all"] = form->receivePath()->state().ReceivedCount == size && lastCellRight && logRight;
    r["cpu_s"] = cpu;
    ui(form).BitBtn2->click();  // disconnect
    return r;
}

int child(const QString& scenario, qint64 size, int argc, char** argv) {
    QJsonObject r;
    if (scenario == QLatin1String("bare")) {
        r = runBare(size);
    } else {
        qputenv("QT_QPA_PLATFORM",
                qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
        trelmo::TrelmoApplication app(argc, argv);
        r = runWindow(scenario, size);
    }
    r["scenario"] = scenario;
    r["bytes"] = size;
    std::printf("%s\n", QJsonDocument(r).toJson(QJsonDocument::Compact).constData());
    return 0;
}

qint64 sizeOf(const std::string& scenario) {
    if (scenario == "probe")
        return 50 * kMiB;
    if (scenario == "unending")
        return 4 * kMiB;
    return 24 * kMiB;
}

// Runs one child and returns its JSON line.
QJsonObject spawn(const char* self, const std::string& scenario, qint64 size) {
    int pipeFd[2];
    if (pipe(pipeFd) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFd[1], 1);
        ::close(pipeFd[0]);
        const std::string bytes = std::to_string(size);
        execl(self, self, "--child", scenario.c_str(), bytes.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ::close(pipeFd[1]);
    QByteArray out;
    char buf[4096];
    for (ssize_t n; (n = ::read(pipeFd[0], buf, sizeof buf)) > 0;)
        out.append(buf, n);
    ::close(pipeFd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    const QList<QByteArray> lines = out.trimmed().split('\n');
    return QJsonDocument::fromJson(lines.isEmpty() ? QByteArray() : lines.last()).object();
}

double median(std::vector<double> v) {
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::string(argv[1]) == "--child")
        return child(QString::fromLocal8Bit(argv[2]), std::stoll(argv[3]), argc, argv);

    int runs = 5;
    std::vector<std::string> scenarios;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            scenarios.push_back(a);
    }
    if (scenarios.empty())
        scenarios = {"bare", "text",      "log",   "stamps",   "logstamps",
                     "hex",  "stampshex", "table", "unending", "probe"};
    // Interleaved: one run of every scenario, then the next round.
    std::map<std::string, std::vector<QJsonObject>> results;
    for (int round = 0; round < runs; ++round)
        for (const std::string& s : scenarios) {
            const QJsonObject r = spawn("/proc/self/exe", s, sizeOf(s));
            std::fprintf(stderr, "%s\n",
                         QJsonDocument(r).toJson(QJsonDocument::Compact).constData());
            results[s].push_back(r);
        }
    auto med = [&](const std::string& s, const char* key) {
        std::vector<double> v;
        for (const QJsonObject& r : results[s])
            if (r.contains(QLatin1String(key)))
                v.push_back(r.value(QLatin1String(key)).toDouble());
        return median(v);
    };
    const double bare = results.count("bare") ? med("bare", "mibps") : -1;
    std::printf("%-9s %6s %9s %8s %13s %14s %10s\n", "scenario", "MiB", "MiB/s", "of bare",
                "RSS B/byte", "worst gap ms", "kept all");
    for (const std::string& s : scenarios) {
        int kept = 0;
        for (const QJsonObject& r : results[s])
            kept += r.value(QLatin1String("kept_all")).toBool();
        const double mibps = med(s, "mibps");
        std::printf(
            "%-9s %6lld %9.1f %8s %13s %14s %7d/%d\n", s.c_str(),
            static_cast<long long>(sizeOf(s) / kMiB), mibps,
            s == "bare" || bare <= 0 ? "" : QByteArray::number(mibps / bare, 'f', 2).constData(),
            s == "bare" ? "" : QByteArray::number(med(s, "rss_per_byte"), 'f', 2).constData(),
            s == "bare" ? "" : QByteArray::number(med(s, "worst_gap_ms"), 'f', 0).constData(), kept,
            static_cast<int>(results[s].size()));
        if (s == "probe")
            std::printf("%-9s keystroke-to-wire median %.1f ms (median of runs), worst %.1f ms\n",
                        "", med(s, "probe_median_ms"), med(s, "probe_max_ms"));
    }
    if (results.count("text") && results.count("log")) {
        // Each round's text and log runs ran side by side: their ratio, then the median.
        std::vector<double> ratios;
        for (size_t i = 0; i < std::min(results["text"].size(), results["log"].size()); ++i) {
            const double text = results["text"][i].value(QLatin1String("mibps")).toDouble();
            const double logged = results["log"][i].value(QLatin1String("mibps")).toDouble();
            if (text > 0 && logged > 0)
                ratios.push_back(logged / text);
        }
        std::printf(
            "log/text  rate with the log on %.2f of the rate with it off (median of %zu "
            "rounds' ratios; medians %.1f vs %.1f MiB/s); the log complete %.0f ms after the "
            "last byte (median)\n",
            median(ratios), ratios.size(), med("log", "mibps"), med("text", "mibps"),
            med("log", "log_lag_ms"));
    }
    // Stamps on against off, round by round (each pair ran one after the other).
    for (const auto& [on, off] : {std::pair<std::string, std::string>{"stamps", "text"},
                                  std::pair<std::string, std::string>{"logstamps", "text"},
                                  std::pair<std::string, std::string>{"stampshex", "hex"}}) {
        if (!results.count(on) || !results.count(off))
            continue;
        std::vector<double> ratios;
        for (size_t i = 0; i < std::min(results[on].size(), results[off].size()); ++i) {
            const double a = results[on][i].value(QLatin1String("mibps")).toDouble();
            const double b = results[off][i].value(QLatin1String("mibps")).toDouble();
            if (a > 0 && b > 0)
                ratios.push_back(a / b);
        }
        std::printf("%-9s rate / %s rate: median %.2f of %zu rounds\n", on.c_str(), off.c_str(),
                    median(ratios), ratios.size());
    }
    std::printf("medians of %d interleaved runs\n", runs);
    return 0;
}
