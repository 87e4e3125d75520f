#pragma once
// The real windows with a temporary settings file, a recorder for every box, and helpers
// to put a device name into the main window and connect it the way a user does.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <atomic>
#include <memory>
#include <thread>

#include "app/Windows.h"
#include "serial/SimDevice.h"
#include "serial/VaComm.h"
#include "terminal/PaneModel.h"
#include "terminal/ReceivePaneView.h"
#include "terminal/Terminal.h"
#include "tests/common/DialogRecorder.h"
#include "tests/common/Pump.h"
#include "tests/common/TempDir.h"
#include "tests/serial/SerialFixtures.h"
#include "widgets/ByteTableModel.h"
#include "widgets/dsLeds.h"

namespace trelmo::test {

// size bytes of numbered 64-byte lines ("00000042 " and printable characters, then CR LF), or
// of one line without any break (the CR LF becomes "..").
inline QByteArray numberedLines(qsizetype size, bool unending = false) {
    QByteArray out;
    out.reserve(size);
    for (qsizetype i = 0; out.size() < size; ++i) {
        QByteArray line = QByteArray::number(i).rightJustified(8, '0') + ' ';
        for (int k = 0; line.size() < 62; ++k)
            line.append(static_cast<char>(0x21 + (i + k) % 94));
        line.append(unending ? ".." : "\r\n");
        out.append(line);
    }
    out.truncate(size);
    return out;
}

class SerialTerm : public ::testing::Test {
  protected:
    SerialTerm() : windows(std::make_unique<Windows>(temp.path("trelmo.ini"))) {
        form = windows->form1();
    }
    ~SerialTerm() override {
        windows.reset();
        // Every worker thread of the port has ended once the windows are gone.
        EXPECT_TRUE(pumpUntil([] { return TVaComm::LiveWorkerThreads() == 0; }, 10000));
    }

    // Types a combo box's text as a user would (select all, type), so its change handler runs.
    static void typeInto(QComboBox* box, const QString& text) {
        QLineEdit* edit = box->lineEdit();
        edit->selectAll();
        if (text.isEmpty())
            QTest::keyClick(edit, Qt::Key_Backspace);
        else
            QTest::keyClicks(edit, text);
    }

    // Names the device in Combo_com and presses the connect button.
    void connectTo(const QString& device) {
        typeInto(form->Combo_com, device);
        form->BitBtn2->click();
    }

    // The pane's text as Memo_receive gives it (its plainText reads the pane's lines).
    QString pane() { return form->Memo_receive->property("plainText").toString(); }

    // One column of the byte table, for the received rows only.
    QStringList column(int col) const {
        QStringList out;
        const ByteTableModel* model = form->Table;
        for (int r = 0; r + 1 < model->rowCount(); ++r)
            out << model->data(model->index(r, col), Qt::DisplayRole).toString();
        return out;
    }
    int received() const { return form->Table->rowCount() - 1; }

    // Writes data into the pty's far end from a thread of its own, as fast as the window lets
    // it, and waits until the window has counted all of it; false when the writer gave up or
    // the deadline passed first.
    bool feedHeldBack(PtyPair& pty, const QByteArray& data, int timeoutMs = 120000) {
        std::atomic<bool> stalled{false};
        bool wrote = false;
        std::thread writer([&] { wrote = pty.WriteHeldBack(data, stalled); });
        const bool all = pumpUntil([&] { return received() >= data.size(); }, timeoutMs);
        writer.join();
        return wrote && all;
    }

    bool lit(TdsLed* led) const { return led->LedOn(); }

    TempDir temp;
    DialogRecorder rec;
    std::unique_ptr<Windows> windows;
    TForm1* form = nullptr;
};

// The real windows connected, without parity, to a pseudo-terminal whose far end the test plays.
class PtyTerm : public SerialTerm {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        typeInto(form->Combo_parity, "None");
        connectTo(pty.SlavePath());
        ASSERT_TRUE(form->PortOpen);
    }
    PtyPair pty;
};

}  // namespace trelmo::test
