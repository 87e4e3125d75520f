#include "terminal/control/Captures.h"

#include "terminal/control/ReceivePath.h"

namespace trelmo {
namespace {

class PaneSource : public CapturePaneSource {
  public:
    explicit PaneSource(const PaneModel& pane) : pane_(pane) {}
    qsizetype paneLineCount() const override { return pane_.lineCount(); }
    QString paneLine(qsizetype i) const override { return pane_.line(static_cast<int>(i)); }

  private:
    const PaneModel& pane_;
};

class TableSource : public CaptureTableSource {
  public:
    explicit TableSource(const ByteTableModel& table) : table_(table) {}
    qsizetype gridRowCount() const override { return table_.gridRowCount(); }
    QString cellText(int column, qsizetype gridRow) const override {
        return table_.gridCell(column, static_cast<int>(gridRow));
    }

  private:
    const ByteTableModel& table_;
};

}  // namespace

CaptureController::CaptureController(ReceivePath& receive, QObject* parent)
    : QObject(parent),
      receive_(receive),
      paneSource_(std::make_unique<PaneSource>(receive.pane())),
      tableSource_(std::make_unique<TableSource>(receive.table())) {}

CaptureController::~CaptureController() = default;

void CaptureController::saveTextLog(const QString& path, const CaptureHeader& header) {
    try {
        trelmo::saveTextLog(path, header, *paneSource_, *tableSource_, receive_.hexMode());
    } catch (const ECaptureError&) {
        emit notice(Notice{QStringLiteral("Exception - unsuccesfull save!"), QString(),
                           Notice::Icon::None, true});
    }
}

void CaptureController::saveBin(const QString& path, const CaptureHeader& header) {
    try {
        saveBinFile(path, header, *tableSource_);
    } catch (const ECaptureError& e) {
        emit notice(Notice{
            QStringLiteral("Error saving in bin, exception - ") + QString::fromUtf8(e.what()),
            QString(), Notice::Icon::None, true});
    }
}

PrintLayout CaptureController::printout(const CaptureHeader& header,
                                        const PageMetrics& page) const {
    return makePrintLayout(header, *tableSource_, page);
}

}  // namespace trelmo
