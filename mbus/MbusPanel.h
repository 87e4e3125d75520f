#pragma once
// The M-Bus window's panel for any meter, beside its composer and its fixed decoder: the
// records of the last reply (header fields, one row per record, the raw bytes of each) with
// a byte view that highlights the selected record's bytes and names each byte's role; the
// next telegram of a reply in several; scans of the bus by primary and by secondary address
// with the meters found; a meter read by a double-click; the export of the records as JSON
// or CSV. The panel writes nothing itself: its requests go out through the window (request)
// to the main window's serial port, and the window hands it what the port receives.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QWidget>
#include <memory>
#include <vector>

// From the record decoder's family (core/mbus/MbusRecords.h, MbusScan.h), which this header
// leaves out: the window's own header includes the composer's (MbusFrame.h says why they
// stay apart).
namespace trelmo::mbus::inline records {
struct Telegram;
struct FoundMeter;
class BusTask;
}  // namespace trelmo::mbus::inline records

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QSplitter;
class QTabWidget;
class QTableView;
class QTreeWidget;
class QTreeWidgetItem;

namespace trelmo {

class MbusByteModel;

class MbusPanel : public QWidget {
    Q_OBJECT
  public:
    // The columns of Tree_records and Tree_meters.
    enum RecordColumn {
        ColTelegram,
        ColNumber,
        ColStorage,
        ColTariff,
        ColSubunit,
        ColFunction,
        ColQuantity,
        ColValue,
        ColUnit,
        ColBytes,
        RecordColumns
    };
    enum MeterColumn { ColAddress, ColId, ColManufacturer, ColVersion, ColMedium, ColNote };
    // The item data of the records tree: the telegram (0-based) and the bytes a row stands
    // for, on column ColTelegram.
    static constexpr int kTelegramRole = Qt::UserRole;
    static constexpr int kOffsetRole = Qt::UserRole + 1;
    static constexpr int kLengthRole = Qt::UserRole + 2;
    // The meter (index into meters()) of a row of Tree_meters; -1 on a note (what the scan
    // met on its way: collisions, narrowing; its text in the first column, across the row).
    static constexpr int kMeterRole = Qt::UserRole;
    // The longest run of bytes taken as one reply before the panel stops looking for its end.
    static constexpr int kMaxReplyBytes = 1024;

    explicit MbusPanel(QWidget* parent = nullptr);
    ~MbusPanel() override;

    // Whether the main window's serial port is open (requests are refused while it is not).
    void setPortOpen(bool open);
    // The line speed in bit/s: the default wait for a reply follows it (Spin_speed).
    void setLineSpeed(int baud);
    int lineSpeed() const;
    // The wait for one reply as the next scan or read will use it: Spin_timeout, or from the
    // line speed when that is 0.
    int replyWaitMs() const;

    // ---- Received bytes -------------------------------------------------------------------
    // While a scan or read runs, the bytes the port receives are its own: true when the
    // running task took them.
    bool takeTaskBytes(QByteArrayView bytes);
    // Bytes of a reply to the window's own request: once they make one whole frame
    // (checkReply), its records are shown (added to the list after Read next, else in place
    // of it).
    void watchReply(QByteArrayView bytes);
    // The window wrote a request of its own (Send): its reply's records replace the list,
    // and Read next goes to its address with the frame count bit toggled.
    void requestSent(const QByteArray& request);
    // Decodes a captured reply (the Records button): a leading E5 is passed over. The same
    // telegram as the last one shown leaves the list as it is.
    void showCaptured(const QByteArray& bytes);
    // The same for the received caption's hex digits (without "Received: ").
    void showCaptured(const QString& hexDigits);
    // Shows these telegrams' records (numbered from 1), replacing the list.
    void showTelegrams(std::vector<mbus::Telegram> telegrams, const QString& summary = QString());
    const std::vector<mbus::Telegram>& telegrams() const;

    // ---- Actions ----------------------------------------------------------------------------
    void readNext();       // Button_next
    void startScan();      // Button_scan
    void cancelTask();     // Button_cancel; also when the window closes
    void exportRecords();  // Button_export
    // Reads the meter of a row of Tree_meters (a double-click) and shows its records.
    void readMeter(QTreeWidgetItem* item);
    bool busy() const;
    // The meters of the last scan, as Tree_meters lists them.
    const std::vector<mbus::FoundMeter>& meters() const;

    void showRecordsPage();
    void showMetersPage();

  signals:
    // A request to write to the port. `newReply`: the window's received caption starts
    // anew, as for its own Send (Read next); the requests of a scan or read leave it.
    void request(const QByteArray& bytes, bool newReply);
    // A scan or read started or ended.
    void busyChanged(bool busy);

  private:
    void buildRecordsPage(QWidget* page);
    void buildMetersPage(QWidget* page);
    void fillRecords();
    void addHeader(int index, const mbus::Telegram& t);
    void recordSelected(QTreeWidgetItem* item);
    void updateButtons();
    void updateWaitText();
    void send(const QByteArray& bytes, bool newReply);
    void noteRequest(const QByteArray& bytes);
    void runTask(std::unique_ptr<mbus::BusTask> task, bool read);
    void taskStepped(const QString& what, int done, int total);
    void taskFinished(bool cancelled);
    void fillMeters(const mbus::BusTask& task);
    bool needPort();

    // The driver, the running task, the telegrams shown and the meters found.
    struct State;
    std::unique_ptr<State> s_;
    bool taskIsRead_ = false;
    bool scanSecondary_ = false;
    QString readWhat_;
    QByteArray reply_;
    bool watching_ = true;
    bool appendNext_ = false;
    int lastAddress_ = -1;
    bool nextFcb_ = true;
    bool portOpen_ = false;
    QString summary_;

  public:
    QTabWidget* Tabs_mbus;
    // Records
    QWidget* Page_records;
    QPushButton* Button_next;
    QPushButton* Button_export;
    QLabel* Label_records;
    QSplitter* Splitter_records;
    QTreeWidget* Tree_records;
    QTableView* Table_bytes;
    MbusByteModel* Model_bytes;
    // Meters
    QWidget* Page_meters;
    QComboBox* Combo_scan;
    QSpinBox* Spin_speed;
    QSpinBox* Spin_timeout;
    QLabel* Label_wait;
    QPushButton* Button_scan;
    QPushButton* Button_cancel;
    QProgressBar* Progress_scan;
    QLabel* Label_scan;
    QTreeWidget* Tree_meters;
};

}  // namespace trelmo
