#pragma once
// The capture of the main window kept on disk: the text log and the BIN file of what was
// received, and the lines of its printout.

#include <QObject>
#include <QString>
#include <memory>

#include "core/capture/CaptureFiles.h"
#include "core/capture/PrintLayout.h"
#include "terminal/control/LinkTypes.h"

namespace trelmo {

class ReceivePath;

class CaptureController : public QObject {
    Q_OBJECT
  public:
    explicit CaptureController(ReceivePath& receive, QObject* parent = nullptr);
    ~CaptureController() override;

    // The pane and the byte table as the capture files read them.
    const CapturePaneSource& paneSource() const { return *paneSource_; }
    const CaptureTableSource& tableSource() const { return *tableSource_; }

    // Writes the text log (the pane's lines and, in text mode, the byte table); a file that
    // cannot be written is reported and the old one kept.
    void saveTextLog(const QString& path, const CaptureHeader& header);
    // Writes the BIN file; a failure is reported with its reason.
    void saveBin(const QString& path, const CaptureHeader& header);
    // The lines of the printout on pages of this size and font.
    PrintLayout printout(const CaptureHeader& header, const PageMetrics& page) const;

  signals:
    void notice(const Notice& notice);

  private:
    ReceivePath& receive_;
    std::unique_ptr<CapturePaneSource> paneSource_;
    std::unique_ptr<CaptureTableSource> tableSource_;
};

}  // namespace trelmo
