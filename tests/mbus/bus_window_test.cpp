// The M-Bus window of the real program on the main window's serial port, against three
// simulated meters behind a pseudo-terminal: Read next through a reply of three telegrams,
// scans with their progress, cancel and the meters found, and a meter read by a double-click.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTreeWidget>
#include <set>

#include "mbus/MbusPanel.h"
#include "mbus/MbusWindow.h"
#include "tests/common/MbusPtyBus.h"
#include "tests/common/WindowFixture.h"
#include "tests/mbus/MbusMeters.h"

using namespace trelmo;
using namespace trelmo::test;

namespace {

// The windows with the main window's port on the simulated bus (9600 bit/s, 8E1).
class SerialMbusBus : public WindowTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(bus.Ok());
        typeInto(ui(form).Combo_speed, "9600");
        typeInto(ui(form).Combo_parity, "Even");
        ASSERT_TRUE(connectSerial(bus.SlavePath())) << dialogs.texts().join('|').toStdString();
        mbus = windows->form5();
        panel = mbus->panel();
        mbus->show();
    }
    void TearDown() override {
        mbus = nullptr;
        panel = nullptr;
        WindowTest::TearDown();
    }

    // The meter rows of Tree_meters and the note rows.
    QList<QTreeWidgetItem*> meterRows(bool notes = false) const {
        QList<QTreeWidgetItem*> out;
        for (int i = 0; i < panel->Tree_meters->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = panel->Tree_meters->topLevelItem(i);
            if ((item->data(MbusPanel::ColAddress, MbusPanel::kMeterRole).toInt() < 0) == notes)
                out << item;
        }
        return out;
    }
    QStringList recordTelegrams() const {
        QStringList out;
        for (int i = 0; i < panel->Tree_records->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = panel->Tree_records->topLevelItem(i);
            bool number = false;
            item->text(MbusPanel::ColNumber).toInt(&number);
            if (number)
                out << item->text(MbusPanel::ColTelegram);
        }
        return out;
    }

    MbusPtyBus bus{threeMeters()};
    TForm5* mbus = nullptr;
    MbusPanel* panel = nullptr;
};

}  // namespace

TEST_F(SerialMbusBus, ReadNextThroughAReplyOfThreeTelegrams) {
    // The port's speed reached the window.
    EXPECT_EQ(panel->Spin_speed->value(), 9600);
    mbus->Radio_Short->click();
    mbus->Combo_C->setEditText("Request Class 2 Data");
    mbus->Edit_address->setText("250");
    mbus->BitBtn1->click();
    ASSERT_TRUE(pumpUntil([&] { return recordTelegrams().size() == 3; }));
    EXPECT_TRUE(panel->Button_next->isEnabled());
    panel->Button_next->click();
    ASSERT_TRUE(pumpUntil([&] { return recordTelegrams().size() == 5; }));
    panel->Button_next->click();
    ASSERT_TRUE(pumpUntil([&] { return recordTelegrams().size() == 7; }));
    EXPECT_EQ(recordTelegrams(), QStringList({"1", "1", "1", "2", "2", "3", "3"}));
    EXPECT_FALSE(panel->Button_next->isEnabled());
    // What went over the line: the window's REQ_UD2, then the frame count bit toggled twice.
    const std::vector<QByteArray> log = bus.requestLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(hexText(log[0]), "105BFA5516");
    EXPECT_EQ(hexText(log[1]), "107BFA7516");
    EXPECT_EQ(hexText(log[2]), "105BFA5516");
    // The old decoder's caption holds the last telegram.
    EXPECT_EQ(mbus->receivedCaption(), "Received: " + hexText(replyOf(electricityMeter(), 2)));
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.texts().join('|').toStdString();
}

TEST_F(SerialMbusBus, SecondaryScanFindsEveryMeterAndADoubleClickReadsOne) {
    mbus->BitBtn2->click();  // Search
    ASSERT_TRUE(mbus->panelShown());
    EXPECT_EQ(panel->Tabs_mbus->currentWidget(), panel->Page_meters);
    panel->Combo_scan->setCurrentIndex(1);
    panel->Spin_timeout->setValue(60);
    panel->Button_scan->click();
    EXPECT_TRUE(panel->busy());
    EXPECT_FALSE(mbus->BitBtn1->isEnabled()) << "the window's Send waits for the scan";
    EXPECT_TRUE(panel->Button_cancel->isEnabled());
    ASSERT_TRUE(pumpUntil([&] { return !panel->busy(); }, 120000));
    EXPECT_TRUE(mbus->BitBtn1->isEnabled());
    EXPECT_EQ(panel->Progress_scan->value(), panel->Progress_scan->maximum());
    EXPECT_GT(panel->Progress_scan->maximum(), 20);

    const QList<QTreeWidgetItem*> meters = meterRows();
    ASSERT_EQ(meters.size(), 3) << panel->Label_scan->text().toStdString();
    std::map<QString, QStringList> byId;
    for (QTreeWidgetItem* m : meters)
        byId[m->text(MbusPanel::ColId)] = {
            m->text(MbusPanel::ColAddress), m->text(MbusPanel::ColManufacturer),
            m->text(MbusPanel::ColVersion), m->text(MbusPanel::ColMedium)};
    EXPECT_EQ(byId["12345670"], QStringList({"5", "ABC", "1", "0x07 Water"}));
    EXPECT_EQ(byId["12345671"], QStringList({"17", "KAM", "8", "0x04 Heat (outlet)"}));
    EXPECT_EQ(byId["40000001"], QStringList({"250", "SON", "13", "0x02 Electricity"}));
    // The collisions are told in the list, not in a box.
    bool collision = false;
    for (QTreeWidgetItem* note : meterRows(true))
        collision = collision || note->text(0).contains("several meters answer");
    EXPECT_TRUE(collision);
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.texts().join('|').toStdString();
    EXPECT_EQ(panel->Label_scan->text(), "3 meter(s) found");

    // A double-click on the electricity meter reads all of its reply, by its secondary
    // address.
    QTreeWidgetItem* meter = nullptr;
    for (QTreeWidgetItem* m : meters)
        if (m->text(MbusPanel::ColId) == "40000001")
            meter = m;
    ASSERT_TRUE(meter);
    const int before = bus.requests();
    QWidget* viewport = panel->Tree_meters->viewport();
    const QPoint at = panel->Tree_meters->visualItemRect(meter).center();
    // A double-click as the mouse makes it: a click, then the second press.
    QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
    ASSERT_TRUE(pumpUntil([&] { return !panel->busy() && recordTelegrams().size() == 7; }, 30000))
        << panel->Label_records->text().toStdString();
    EXPECT_EQ(panel->Tabs_mbus->currentWidget(), panel->Page_records);
    EXPECT_EQ(recordTelegrams(), QStringList({"1", "1", "1", "2", "2", "3", "3"}));
    EXPECT_TRUE(panel->Label_records->text().startsWith("Read meter 40000001"))
        << panel->Label_records->text().toStdString();
    const std::vector<QByteArray> log = bus.requestLog();
    ASSERT_EQ(static_cast<int>(log.size()), before + 4);
    EXPECT_EQ(hexText(log[before]).left(14), "680B0B6853FD52") << "a selection first";
}

TEST_F(SerialMbusBus, PrimaryScanShowsProgressAndCancels) {
    mbus->BitBtn2->click();
    panel->Combo_scan->setCurrentIndex(0);
    panel->Spin_timeout->setValue(150);
    panel->Button_scan->click();
    ASSERT_TRUE(panel->busy());
    // The window stays responsive: the event loop runs, the progress moves.
    ASSERT_TRUE(pumpUntil([&] { return panel->Progress_scan->value() >= 3; }, 60000));
    EXPECT_EQ(panel->Progress_scan->maximum(), 251);
    EXPECT_TRUE(panel->Label_scan->text().startsWith("SND_NKE to "))
        << panel->Label_scan->text().toStdString();
    panel->Button_cancel->click();
    EXPECT_FALSE(panel->busy());
    EXPECT_TRUE(panel->Label_scan->text().startsWith("Cancelled"))
        << panel->Label_scan->text().toStdString();
    EXPECT_TRUE(panel->Button_scan->isEnabled());
    EXPECT_FALSE(panel->Button_cancel->isEnabled());
    EXPECT_TRUE(mbus->BitBtn1->isEnabled());
    // No request goes out after the cancel.
    pumpFor(300);
    const int after = bus.requests();
    EXPECT_LT(after, 251);
    pumpFor(600);
    EXPECT_EQ(bus.requests(), after);

    // The next scan starts from the beginning again; it can be cancelled by closing the window.
    panel->Button_scan->click();
    ASSERT_TRUE(pumpUntil([&] { return panel->Progress_scan->value() >= 1; }, 60000));
    mbus->close();
    EXPECT_FALSE(panel->busy());
    EXPECT_FALSE(form->serialLink()->mbusCapture());
}
