// The M-Bus window's panel for any meter, driven through its controls with a fake main-window
// side: the records view of a captured reply (header fields, records, raw bytes, the byte
// view's highlight and role tool tips), Read next, and the export as JSON and CSV.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QTableView>
#include <QToolTip>
#include <QTreeWidget>

#include "mbus/MbusByteModel.h"
#include "mbus/MbusPanel.h"
#include "mbus/MbusWindow.h"
#include "tests/common/DialogRecorder.h"
#include "tests/common/Pump.h"
#include "tests/common/TempDir.h"
#include "tests/mbus/MbusMeters.h"

using namespace trelmo;
using namespace trelmo::test;

namespace {

class MbusRecordsView : public ::testing::Test {
  protected:
    MbusRecordsView() {
        form.setPortOpen(true);
        QObject::connect(&form, &TForm5::telegramReady,
                         [this](const QByteArray& bytes) { written.append(bytes); });
    }

    template <typename W>
    W* get(const char* name) {
        W* w = form.findChild<W*>(QLatin1String(name));
        if (!w)
            ADD_FAILURE() << "no control " << name;
        return w;
    }
    MbusPanel* panel() { return form.panel(); }
    QTreeWidget* tree() { return get<QTreeWidget>("Tree_records"); }
    MbusByteModel* bytes() { return panel()->Model_bytes; }

    // Sends REQ_UD2 to `address` from the window's own composer, as a user does.
    void sendRequest(int address) {
        get<QRadioButton>("Radio_Short")->click();
        get<QComboBox>("Combo_C")->setEditText("Request Class 2 Data");
        get<QLineEdit>("Edit_address")->setText(QString::number(address));
        get<QPushButton>("BitBtn1")->click();
    }

    // The record rows (top-level rows with a record number), in order.
    QList<QTreeWidgetItem*> recordRows() {
        QList<QTreeWidgetItem*> rows;
        for (int i = 0; i < tree()->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = tree()->topLevelItem(i);
            bool number = false;
            item->text(MbusPanel::ColNumber).toInt(&number);
            if (number)
                rows << item;
        }
        return rows;
    }
    // The header field rows of telegram `n` (from 1): name -> value, and the items.
    QTreeWidgetItem* headerGroup(int n) {
        for (int i = 0; i < tree()->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = tree()->topLevelItem(i);
            if (item->text(MbusPanel::ColNumber) == "header" &&
                item->text(MbusPanel::ColTelegram) == QString::number(n))
                return item;
        }
        return nullptr;
    }
    QTreeWidgetItem* headerField(int n, const QString& name) {
        QTreeWidgetItem* group = headerGroup(n);
        for (int i = 0; group && i < group->childCount(); ++i)
            if (group->child(i)->text(MbusPanel::ColQuantity) == name)
                return group->child(i);
        return nullptr;
    }
    QString field(int n, const QString& name) {
        QTreeWidgetItem* item = headerField(n, name);
        return item ? item->text(MbusPanel::ColValue) : QStringLiteral("<none>");
    }
    QStringList column(int c) {
        QStringList out;
        for (QTreeWidgetItem* row : recordRows())
            out << row->text(c);
        return out;
    }

    DialogRecorder rec;
    QList<QByteArray> written;
    TForm5 form;
};

// A CSV file's rows (RFC 4180: quoted fields may hold commas, quotes and line breaks).
QList<QStringList> csvRows(const QByteArray& data) {
    QList<QStringList> rows;
    QStringList row;
    QString fieldText;
    bool quoted = false;
    const QString text = QString::fromUtf8(data);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                fieldText += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                fieldText += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row << fieldText;
            fieldText.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            row << fieldText;
            rows << row;
            row.clear();
            fieldText.clear();
            ++i;
        } else {
            fieldText += c;
        }
    }
    if (!fieldText.isEmpty() || !row.isEmpty())
        rows << (row << fieldText);
    return rows;
}

}  // namespace

TEST_F(MbusRecordsView, HiddenUntilAskedForThenWithinTheScreen) {
    // As it always was: 649 x 608, fixed, the panel hidden.
    EXPECT_EQ(form.size(), QSize(649, 608));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_TRUE(panel()->isHidden());
    EXPECT_FALSE(form.panelShown());
    EXPECT_EQ(get<QPushButton>("Button_records")->text(), "Records");
    EXPECT_EQ(get<QPushButton>("Button_more")->text(), "More >>");
    const QRect group2 = get<QGroupBox>("GroupBox2")->geometry();
    const QRect send = get<QPushButton>("BitBtn1")->geometry();
    for (const char* below : {"Button_records", "Button_more"}) {
        const QRect r = get<QPushButton>(below)->geometry();
        EXPECT_GT(r.top(), group2.bottom()) << below;
        EXPECT_LE(r.bottom(), 608) << below;
        EXPECT_LE(r.right(), 649) << below;
    }

    form.show();
    ASSERT_TRUE(pumpUntil([&] { return form.isVisible(); }));
    get<QPushButton>("Button_more")->click();
    EXPECT_TRUE(form.panelShown());
    EXPECT_TRUE(panel()->isVisible());
    EXPECT_EQ(get<QPushButton>("Button_more")->text(), "<< Less");
    const QRect screen = form.screen()->availableGeometry();
    EXPECT_GT(form.width(), 649 + 400);
    EXPECT_GE(form.height(), 608);
    EXPECT_LE(form.frameGeometry().width(), screen.width());
    EXPECT_LE(form.frameGeometry().height(), screen.height());
    EXPECT_TRUE(screen.contains(form.frameGeometry())) << "off the screen";
    EXPECT_LE(form.minimumWidth(), screen.width());
    EXPECT_LE(form.minimumHeight(), screen.height());
    EXPECT_GT(form.maximumWidth(), screen.width()) << "resizable, not fixed";
    // The window's own controls keep their places; the panel is beside them.
    EXPECT_EQ(get<QGroupBox>("GroupBox2")->geometry(), group2);
    EXPECT_EQ(get<QPushButton>("BitBtn1")->geometry(), send);
    EXPECT_GE(panel()->geometry().left(), 649);
    EXPECT_LE(panel()->geometry().right(), form.width());
    form.resize(form.width() - 100, form.height());
    ASSERT_TRUE(pumpUntil([&] { return panel()->geometry().right() <= form.width(); }));
    EXPECT_GT(panel()->width(), 300);

    get<QPushButton>("Button_more")->click();
    EXPECT_TRUE(panel()->isHidden());
    EXPECT_EQ(form.size(), QSize(649, 608));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());

    // Search opens the scan.
    get<QPushButton>("BitBtn2")->click();
    EXPECT_TRUE(panel()->isVisible());
    EXPECT_EQ(panel()->Tabs_mbus->currentWidget(), panel()->Page_meters);
}

TEST_F(MbusRecordsView, ACapturedReplyShowsItsRecordsWhenItEnds) {
    SimMeter meter = waterMeter();
    meter.status = 0x14;
    const QByteArray reply = replyOf(meter);
    sendRequest(5);
    ASSERT_EQ(written.size(), 1);
    EXPECT_EQ(hexText(written[0]), "105B056016");

    // Nothing until the reply's last byte: the frame is whole only with its stop byte.
    form.captureBytes(reply.left(20));
    form.captureBytes(reply.mid(20, reply.size() - 21));
    EXPECT_EQ(tree()->topLevelItemCount(), 0);
    form.captureBytes(reply.right(1));
    ASSERT_GT(tree()->topLevelItemCount(), 0);
    // The window's own caption goes on as before.
    EXPECT_EQ(form.receivedCaption(), "Received: " + hexText(reply));

    EXPECT_EQ(field(1, "Identification number"), "12345670");
    EXPECT_EQ(field(1, "Manufacturer"), "ABC (0x0443)");
    EXPECT_EQ(field(1, "Version"), "1");
    EXPECT_EQ(field(1, "Medium"), "0x07 Water");
    EXPECT_EQ(field(1, "Access number"), "1");
    EXPECT_EQ(field(1, "Status"), "0x14: power low, temporary error");
    ASSERT_TRUE(headerField(1, "Status"));
    EXPECT_EQ(headerField(1, "Status")->childCount(), 2);
    EXPECT_EQ(field(1, "Signature"), "0x0000");
    EXPECT_TRUE(field(1, "CI field").startsWith("0x72 ")) << field(1, "CI field").toStdString();
    EXPECT_EQ(field(1, "Frame check"),
              QStringLiteral("check sum 0x%1 correct")
                  .arg(QString::number(static_cast<uint8_t>(reply[reply.size() - 2]), 16)
                           .rightJustified(2, '0')
                           .toUpper()));
    EXPECT_EQ(field(1, "Address"), "5");
    EXPECT_EQ(headerField(1, "Identification number")->text(MbusPanel::ColBytes), "70 56 34 12");

    const QList<QTreeWidgetItem*> rows = recordRows();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(column(MbusPanel::ColTelegram), QStringList({"1", "1"}));
    EXPECT_EQ(column(MbusPanel::ColNumber), QStringList({"1", "2"}));
    EXPECT_EQ(column(MbusPanel::ColQuantity), QStringList({"Volume", "Flow temperature"}));
    EXPECT_EQ(column(MbusPanel::ColValue), QStringList({"12.345", "30"}));
    EXPECT_EQ(column(MbusPanel::ColUnit), QStringList({"m³", "°C"}));
    EXPECT_EQ(column(MbusPanel::ColFunction), QStringList({"instantaneous", "instantaneous"}));
    EXPECT_EQ(column(MbusPanel::ColStorage), QStringList({"0", "0"}));
    EXPECT_EQ(column(MbusPanel::ColBytes), QStringList({"04 13 39 30 00 00", "02 5A 2C 01"}));
    EXPECT_TRUE(panel()->Label_records->text().contains("2 record(s)"))
        << panel()->Label_records->text().toStdString();
    EXPECT_FALSE(panel()->Button_next->isEnabled()) << "one telegram: nothing follows";

    // The byte view holds the whole telegram; the selected record's bytes are highlighted.
    ASSERT_EQ(bytes()->bytes(), reply);
    form.showPanel(true);
    form.show();
    ASSERT_TRUE(pumpUntil([&] { return panel()->Table_bytes->isVisible(); }));
    tree()->setCurrentItem(rows[1]);
    const int second = 19 + 6;  // after the 12 header bytes and the first record
    EXPECT_EQ(bytes()->highlightOffset(), second);
    EXPECT_EQ(bytes()->highlightLength(), 4);
    auto background = [&](int offset) {
        return bytes()->data(bytes()->indexOfByte(offset), Qt::BackgroundRole).value<QBrush>();
    };
    for (int k = second; k < second + 4; ++k)
        EXPECT_EQ(background(k).color(), MbusByteModel::highlightColor()) << k;
    EXPECT_NE(background(second - 1).color(), MbusByteModel::highlightColor());
    EXPECT_NE(background(second + 4).color(), MbusByteModel::highlightColor());
    tree()->setCurrentItem(rows[0]);
    EXPECT_EQ(background(19).color(), MbusByteModel::highlightColor());
    EXPECT_NE(background(second).color(), MbusByteModel::highlightColor());
    // A header field highlights its bytes too.
    tree()->setCurrentItem(headerField(1, "Manufacturer"));
    EXPECT_EQ(bytes()->highlightOffset(), 11);
    EXPECT_EQ(bytes()->highlightLength(), 2);
    EXPECT_EQ(bytes()->data(bytes()->indexOfByte(11)).toString(), "43");

    // Each byte names its role in its tool tip.
    auto tip = [&](int offset) {
        return bytes()->data(bytes()->indexOfByte(offset), Qt::ToolTipRole).toString();
    };
    EXPECT_EQ(tip(0), "byte 0 (0x0): start");
    EXPECT_EQ(tip(6), "byte 6 (0x6): CI field");
    EXPECT_EQ(tip(7), "byte 7 (0x7): identification number, header field");
    EXPECT_EQ(tip(19), "byte 19 (0x13): DIF, record 1");
    EXPECT_EQ(tip(20), "byte 20 (0x14): VIF, record 1");
    EXPECT_EQ(tip(21), "byte 21 (0x15): data, record 1");
    EXPECT_EQ(tip(second), "byte 25 (0x19): DIF, record 2");
    EXPECT_EQ(tip(reply.size() - 2), QStringLiteral("byte %1 (0x%2): check sum")
                                         .arg(reply.size() - 2)
                                         .arg(QString::number(reply.size() - 2, 16).toUpper()));
    // ... and shows it when the pointer rests on the byte.
    QTableView* view = panel()->Table_bytes;
    const QRect cell = view->visualRect(bytes()->indexOfByte(20));
    ASSERT_TRUE(cell.isValid());
    QHelpEvent hover(QEvent::ToolTip, cell.center(), view->viewport()->mapToGlobal(cell.center()));
    QCoreApplication::sendEvent(view->viewport(), &hover);
    EXPECT_EQ(QToolTip::text(), tip(20));
    QToolTip::hideText();
}

TEST_F(MbusRecordsView, RecordsButtonDecodesTheCaption) {
    const QByteArray reply = replyOf(heatMeter());
    form.setReceivedCaption("Received: E5" + hexText(reply));
    form.findChild<QPushButton*>("Button_records")->click();
    EXPECT_TRUE(form.panelShown());
    EXPECT_EQ(panel()->Tabs_mbus->currentWidget(), panel()->Page_records);
    EXPECT_EQ(field(1, "Identification number"), "12345671");
    EXPECT_EQ(field(1, "Manufacturer"), "KAM (0x2C2D)");
    EXPECT_EQ(field(1, "Medium"), "0x04 Heat (outlet)");
    EXPECT_EQ(column(MbusPanel::ColQuantity), QStringList({"Energy", "Volume"}));
    EXPECT_EQ(column(MbusPanel::ColValue), QStringList({"37351000", "10"}));
    EXPECT_EQ(column(MbusPanel::ColUnit), QStringList({"Wh", "m³"}));

    // A caption that is no hex leaves the records and says why.
    form.setReceivedCaption("Received: 68G0");
    form.findChild<QPushButton*>("Button_records")->click();
    EXPECT_TRUE(panel()->Label_records->text().startsWith("The captured text is not hex"));
    EXPECT_EQ(recordRows().size(), 2);
    EXPECT_TRUE(rec.messages.empty()) << "no box";

    // A telegram with a wrong check sum is shown with its fault.
    QByteArray bad = reply;
    bad[bad.size() - 2] = static_cast<char>(bad[bad.size() - 2] ^ 0x01);
    form.setReceivedCaption("Received: " + hexText(bad));
    form.findChild<QPushButton*>("Button_records")->click();
    EXPECT_TRUE(field(1, "Frame check").contains("wrong")) << field(1, "Frame check").toStdString();
    EXPECT_TRUE(panel()->Label_records->text().contains("fault"))
        << panel()->Label_records->text().toStdString();
}

TEST_F(MbusRecordsView, ReadNextAsksForEachTelegramAndListsThemAll) {
    const SimMeter meter = electricityMeter();
    sendRequest(250);
    ASSERT_EQ(written.size(), 1);
    EXPECT_EQ(hexText(written[0]), "105BFA5516");
    form.captureBytes(replyOf(meter, 0));
    ASSERT_EQ(recordRows().size(), 3);
    EXPECT_TRUE(panel()->Button_next->isEnabled());
    EXPECT_TRUE(panel()->Label_records->text().contains("more records follow"));

    // Read next: REQ_UD2 to the same address with the frame count bit toggled; the caption
    // starts anew as for Send.
    panel()->Button_next->click();
    ASSERT_EQ(written.size(), 2);
    EXPECT_EQ(hexText(written[1]), "107BFA7516");
    EXPECT_EQ(form.receivedCaption(), "Received: ");
    form.captureBytes(replyOf(meter, 1));
    EXPECT_EQ(recordRows().size(), 3 + 2);
    panel()->Button_next->click();
    ASSERT_EQ(written.size(), 3);
    EXPECT_EQ(hexText(written[2]), "105BFA5516");
    form.captureBytes(replyOf(meter, 2));
    EXPECT_FALSE(panel()->Button_next->isEnabled()) << "the last telegram has no 0x1F";

    // One list, each record with its telegram's number.
    EXPECT_EQ(column(MbusPanel::ColTelegram), QStringList({"1", "1", "1", "2", "2", "3", "3"}));
    EXPECT_EQ(column(MbusPanel::ColNumber), QStringList({"1", "2", "3", "1", "2", "1", "2"}));
    EXPECT_EQ(column(MbusPanel::ColFunction)[2], "more");
    EXPECT_EQ(column(MbusPanel::ColTariff), QStringList({"0", "0", "0", "1", "0", "2", "0"}));
    ASSERT_TRUE(headerGroup(3));
    EXPECT_EQ(field(3, "Access number"), "3");
    EXPECT_TRUE(panel()->Label_records->text().contains("3 telegram(s), 7 record(s)"))
        << panel()->Label_records->text().toStdString();
    // Selecting a record of telegram 2 shows telegram 2's bytes.
    tree()->setCurrentItem(recordRows()[3]);
    EXPECT_EQ(bytes()->bytes(), replyOf(meter, 1));
    EXPECT_EQ(bytes()->highlightOffset(), 19);

    // A new Send replaces the list with its reply.
    sendRequest(5);
    form.captureBytes(replyOf(waterMeter()));
    EXPECT_EQ(column(MbusPanel::ColTelegram), QStringList({"1", "1"}));

    // Without an open port Read next refuses as Send does.
    sendRequest(250);
    form.captureBytes(replyOf(meter, 0));
    ASSERT_TRUE(panel()->Button_next->isEnabled());
    form.setPortOpen(false);
    const int before = written.size();
    panel()->Button_next->click();
    EXPECT_EQ(rec.texts(), QStringList{"You are not connected to COM port."});
    EXPECT_EQ(written.size(), before);
}

TEST_F(MbusRecordsView, ExportsTheRecordsAsJsonAndCsv) {
    TempDir dir;
    const SimMeter meter = electricityMeter();
    EXPECT_FALSE(panel()->Button_export->isEnabled()) << "nothing to export yet";
    sendRequest(250);
    form.captureBytes(replyOf(meter, 0));
    panel()->Button_next->click();
    form.captureBytes(replyOf(meter, 1));
    panel()->Button_next->click();
    form.captureBytes(replyOf(meter, 2));
    ASSERT_EQ(recordRows().size(), 7);
    ASSERT_TRUE(panel()->Button_export->isEnabled());

    // JSON: the telegrams with their raw hex and their records, as the view shows them.
    rec.saveAnswers.push_back(dir.path("meter.json"));
    panel()->Button_export->click();
    ASSERT_EQ(rec.saveRequests.size(), 1u);
    QStringList patterns;
    for (const auto& f : rec.saveRequests[0].filters)
        patterns << f.second;
    EXPECT_EQ(patterns, QStringList({"*.json", "*.csv"}));
    QFile json(dir.path("meter.json"));
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json.readAll(), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    ASSERT_TRUE(doc.isArray());
    const QJsonArray telegrams = doc.array();
    ASSERT_EQ(telegrams.size(), 3);
    const QList<QTreeWidgetItem*> rows = recordRows();
    int row = 0;
    for (int t = 0; t < 3; ++t) {
        const QJsonObject o = telegrams[t].toObject();
        EXPECT_EQ(o["hex"].toString(), hexText(replyOf(meter, t))) << t;
        EXPECT_EQ(o["telegram"].toInt(), t + 1);
        EXPECT_EQ(o["header"].toObject()["id"].toString(), "40000001");
        EXPECT_EQ(o["more_records_follow"].toBool(), t < 2);
        for (const QJsonValue& r : o["records"].toArray()) {
            ASSERT_LT(row, rows.size());
            const QJsonObject record = r.toObject();
            QTreeWidgetItem* item = rows[row++];
            EXPECT_EQ(item->text(MbusPanel::ColTelegram), QString::number(t + 1));
            EXPECT_EQ(QString(record["hex"].toString()),
                      item->text(MbusPanel::ColBytes).remove(' '));
            EXPECT_EQ(record["unit"].toString(), item->text(MbusPanel::ColUnit));
            EXPECT_EQ(record["function"].toString(), item->text(MbusPanel::ColFunction));
            EXPECT_EQ(record["tariff"].toInt(), item->text(MbusPanel::ColTariff).toInt());
            if (record["value"].isDouble())
                EXPECT_DOUBLE_EQ(record["value"].toDouble(),
                                 item->text(MbusPanel::ColValue).toDouble());
            else
                EXPECT_EQ(record["value"].toString(), item->text(MbusPanel::ColValue));
        }
    }
    EXPECT_EQ(row, rows.size());

    // CSV (chosen by the file's suffix): a heading, then one row per record.
    rec.saveAnswers.push_back(dir.path("meter.CSV"));
    panel()->Button_export->click();
    QFile csv(dir.path("meter.CSV"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QList<QStringList> table = csvRows(csv.readAll());
    ASSERT_EQ(table.size(), 1 + rows.size());
    const QStringList heading = table[0];
    EXPECT_EQ(heading.mid(0, 4), QStringList({"telegram", "record", "offset", "hex"}));
    const int quantity = heading.indexOf("quantity");
    const int value = heading.indexOf("value");
    const int unit = heading.indexOf("unit");
    ASSERT_GE(quantity, 0);
    ASSERT_GE(value, 0);
    ASSERT_GE(unit, 0);
    for (int i = 0; i < rows.size(); ++i) {
        const QStringList& r = table[i + 1];
        ASSERT_EQ(r.size(), heading.size()) << i;
        EXPECT_EQ(r[0], rows[i]->text(MbusPanel::ColTelegram)) << i;
        EXPECT_EQ(r[1], rows[i]->text(MbusPanel::ColNumber)) << i;
        EXPECT_EQ(r[3], rows[i]->text(MbusPanel::ColBytes).remove(' ')) << i;
        EXPECT_TRUE(rows[i]->text(MbusPanel::ColQuantity).startsWith(r[quantity])) << i;
        EXPECT_EQ(r[value], rows[i]->text(MbusPanel::ColValue)) << i;
        EXPECT_EQ(r[unit], rows[i]->text(MbusPanel::ColUnit)) << i;
    }

    // Cancelled: nothing is written.
    const int requests = static_cast<int>(rec.saveRequests.size());
    panel()->Button_export->click();
    EXPECT_EQ(static_cast<int>(rec.saveRequests.size()), requests + 1);
    EXPECT_TRUE(rec.messages.empty());
}
