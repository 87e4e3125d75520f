// The M-Bus window driven through its real controls, found by objectName, with a fake
// main-window side that records what is written.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "mbus/MbusWindow.h"
#include "tests/common/Bytes.h"
#include "tests/common/DialogRecorder.h"
#include "tests/common/MbusTestUtil.h"
#include "tests/common/Pump.h"

using namespace trelmo;
using trelmo::test::DialogRecorder;
using trelmo::test::FixedClock;
using trelmo::test::hexBytes;
using trelmo::test::spaced;

namespace {

// The main window's side as the window's signals reach it.
struct FakeHost {
    QList<QByteArray> written;
    QList<bool> captureCalls;
};

class MbusWindow : public ::testing::Test {
  protected:
    MbusWindow() {
        form.setPortOpen(true);
        QObject::connect(&form, &TForm5::telegramReady,
                         [this](const QByteArray& bytes) { host.written.append(bytes); });
        QObject::connect(&form, &TForm5::captureSwitched,
                         [this](bool on) { host.captureCalls.append(on); });
    }

    template <typename W>
    W* get(const char* name) {
        W* w = form.findChild<W*>(QLatin1String(name));
        if (!w)
            ADD_FAILURE() << "no control " << name;
        return w;
    }
    void choose(const char* combo, const QString& text) {
        get<QComboBox>(combo)->setEditText(text);
    }
    void type(const char* edit, const QString& text) { get<QLineEdit>(edit)->setText(text); }
    void click(const char* button) { get<QAbstractButton>(button)->click(); }
    QString text(const char* label) { return get<QLabel>(label)->text(); }
    bool shown(const char* name) { return !get<QWidget>(name)->isHidden(); }
    // Captured bytes reach the labels a moment later, all of a burst at once.
    bool waitForReceivedLabels() {
        return trelmo::test::pumpUntil(
            [&] { return text("Label_receive") == form.receivedCaption(); });
    }

    DialogRecorder rec;
    FakeHost host;
    TForm5 form;
};

}  // namespace

TEST_F(MbusWindow, DesignerState) {
    EXPECT_EQ(form.windowTitle(), "Trelmo -> M-bus");
    EXPECT_EQ(form.size(), QSize(649, 608));
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(get<QGroupBox>("GroupBox1")->title(), "Master-to-slave");
    EXPECT_EQ(get<QGroupBox>("GroupBox2")->title(), "Slave-to-master");
    EXPECT_EQ(get<QGroupBox>("GroupBox2")->geometry(), QRect(8, 432, 609, 121));
    EXPECT_EQ(get<QPushButton>("BitBtn3")->geometry(), QRect(528, 88, 75, 25));
    EXPECT_EQ(get<QLabel>("Label_mbcs_pulse3")->pos(), QPoint(192, 72));
    EXPECT_EQ(get<QLabel>("Label_mbcs_data12")->pos(), QPoint(344, 88));
    EXPECT_EQ(get<QLabel>("Label_mbcs_data10")->pos(), QPoint(432, 72));
    EXPECT_TRUE(get<QRadioButton>("Radio_long")->isChecked());
    EXPECT_EQ(text("Label_mfr"), "= 11993");
    EXPECT_EQ(text("Label13"), QString::fromUtf8("Порядък"));
    EXPECT_EQ(get<QComboBox>("Combo_Medium")->count(), 11);
    EXPECT_EQ(get<QComboBox>("Combo_Parameter1")->itemText(0), "");
    EXPECT_EQ(get<QLineEdit>("Edit_multi_num")->text(), "12/12");
    EXPECT_EQ(get<QLineEdit>("Edit_multi_id")->maxLength(), 8);
    EXPECT_TRUE(shown("Label_mbcs_data12"));
    EXPECT_TRUE(shown("Edit_multi_num"));
    for (const char* hidden : {"Group_DIF", "Group_VIF", "Combo_Action", "Combo_Parameter1",
                               "GroupBox3", "Combo_power", "Label_mbcs_data2", "Label_access"})
        EXPECT_FALSE(shown(hidden)) << hidden;
    EXPECT_EQ(form.telegram().Mfr_code[0], 0xD9);
    EXPECT_EQ(form.telegram().Mfr_code[1], 0x2E);
    EXPECT_EQ(form.telegram().Field_A, 1);
}

TEST_F(MbusWindow, SendNeedsAnOpenPort) {
    form.setPortOpen(false);
    click("BitBtn1");
    EXPECT_EQ(rec.texts(), QStringList{"You are not connected to COM port."});
    EXPECT_TRUE(host.written.isEmpty());
    EXPECT_TRUE(host.captureCalls.isEmpty());
}

TEST_F(MbusWindow, SendDurationTelegramAndCaptureReply) {
    choose("Combo_C", "Send user data to Slave (SND_UD)");
    EXPECT_TRUE(shown("Group_DIF") && shown("Group_VIF") && shown("Combo_Action"));
    choose("Combo_CI", "Data send");
    choose("Combo_Action", "Send/Request tariff duration");
    EXPECT_EQ(text("Label_ident"), "Enter hours, 2 digits");
    EXPECT_EQ(get<QLineEdit>("Edit_data")->maxLength(), 2);
    click("Check_extension");
    EXPECT_TRUE(shown("Combo_tariff"));
    choose("Combo_tariff", "1");
    type("Edit_data", "12");
    click("BitBtn1");
    ASSERT_EQ(host.written.size(), 1);
    EXPECT_EQ(spaced(host.written[0]),
              spaced(hexBytes("68 08 08 68 53 01 51 81 10 FD 32 0C 71 16")));
    EXPECT_EQ(host.captureCalls, QList<bool>{true});
    EXPECT_EQ(text("Label_DIF"), "DIF and VIF: 81 10 FD 32");
    EXPECT_EQ(text("Label_info"), " 0C");
    EXPECT_EQ(text("Label_VIF"), "Checksum: 71");
    EXPECT_EQ(text("Label_Header"), "Header: 68 08 08 68 53 01 51");
    EXPECT_TRUE(rec.messages.empty());

    for (uint8_t b : {0x68, 0x0A, 0x16})
        form.captureByte(b);
    ASSERT_TRUE(waitForReceivedLabels());
    EXPECT_EQ(text("Label_receive"), "Received: 680A16");
    EXPECT_EQ(text("Label_receive2"), "Received: 680A16");
    form.captureByte(0xE5);
    ASSERT_TRUE(waitForReceivedLabels());
    EXPECT_EQ(text("Label_receive"), "Received: 680A16E5");
    EXPECT_EQ(text("Label_receive2"), "Received: 680A16") << "copied only at 0x16";

    // A block is captured as its bytes one by one would be: the hidden copy stands at the
    // block's last 0x16.
    form.captureBytes(QByteArray::fromHex("1016aa16bb"));
    ASSERT_TRUE(waitForReceivedLabels());
    EXPECT_EQ(text("Label_receive"), "Received: 680A16E51016AA16BB");
    EXPECT_EQ(text("Label_receive2"), "Received: 680A16E51016AA16");
    EXPECT_EQ(form.receivedCopy(), "Received: 680A16E51016AA16");

    // The next Send resets the caption.
    click("BitBtn1");
    EXPECT_EQ(text("Label_receive"), "Received: ");
}

TEST_F(MbusWindow, OptionControlsSetState) {
    choose("Combo_C", "Send user data to Slave (SND_UD)");
    choose("Combo_C", "Initialisation of Slave (SND_NKE)");
    EXPECT_FALSE(shown("Group_DIF") || shown("Group_VIF") || shown("Combo_Action"));
    EXPECT_EQ(form.telegram().Field_C, 0x40);
    choose("Combo_C", "Alarm protocol (Class 1 Data)");
    EXPECT_EQ(form.telegram().Field_C, 0x5A);
    EXPECT_FALSE(shown("Group_DIF"));

    choose("Combo_CI", "Reset");
    EXPECT_TRUE(shown("Combo_Parameter1") && shown("Label5"));
    choose("Combo_Parameter1", "Reset user data");
    choose("Combo_CI", "Synchro");
    EXPECT_FALSE(shown("Combo_Parameter1"));
    EXPECT_EQ(form.telegram().Reset_param, 0x10);
    click("BitBtn1");
    ASSERT_EQ(host.written.size(), 1);
    EXPECT_EQ(spaced(host.written[0]), spaced(hexBytes("68 03 03 68 5A 01 54 AF 16")));

    type("Edit_address", "300");
    EXPECT_EQ(form.telegram().Field_A, 0x2C);
    type("Edit_address", "");
    EXPECT_EQ(rec.lastText(), "'' is not a valid integer value");
    EXPECT_EQ(form.telegram().Field_A, 0x2C);

    choose("Combo_C", "Request Class 2 Data");
    click("Check_volume");
    EXPECT_TRUE(shown("Combo_VIF") && shown("Combo_power"));
    choose("Combo_power", "0.1");
    choose("Combo_VIF", "kg");
    EXPECT_EQ(form.telegram().Field_VIF, 0x1A);
    click("Check_extension");
    EXPECT_EQ(form.telegram().Field_DIFE, 0x00);
    choose("Combo_tariff", "2");
    EXPECT_EQ(form.telegram().Field_DIFE, 0x20);

    click("Check_multi");
    EXPECT_TRUE(shown("GroupBox3"));
    click("Check_multi_id");
    EXPECT_TRUE(shown("Edit_multi_id") && shown("Combo_Medium"));
    click("Check_multi_id");
    EXPECT_FALSE(shown("Edit_multi_id"));
    EXPECT_TRUE(shown("Combo_Medium")) << "unticking leaves the medium list";

    type("Edit_mfr1", "A");
    type("Edit_mfr2", "A");
    type("Edit_mfr3", "A");
    EXPECT_EQ(text("Label_mfr"), " = 1057");
    EXPECT_TRUE(shown("Label_mfr"));
    type("Edit_mfr2", "");
    EXPECT_FALSE(shown("Label_mfr"));

    // Letters count with their code page bytes: the euro sign is 0x80.
    type("Edit_mfr2", QString(QChar(0x20AC)));
    EXPECT_EQ(text("Label_mfr"), " = " + QString::number(1024 + (0x80 - 64) * 32 + 1));
    EXPECT_EQ(form.telegram().Mfr_number, 1024 + (0x80 - 64) * 32 + 1);
    type("Edit_mfr3", QString(QChar(0x4E2D)));  // not in the code page: '?'
    EXPECT_EQ(text("Label_mfr"), " = " + QString::number(1024 + (0x80 - 64) * 32 - 1));
}

TEST_F(MbusWindow, ActionsUnderRequestClass2DataShowOnlyTheStartTimeBox) {
    auto* data = get<QLineEdit>("Edit_data");
    choose("Combo_C", "Request Class 2 Data");
    EXPECT_TRUE(form.telegram().Request_mode);
    EXPECT_TRUE(shown("Combo_Action"));

    // The start time keeps its box in request mode, as it has it otherwise.
    choose("Combo_Action", "Send/Request start time of tariff");
    EXPECT_EQ(form.telegram().Selected_action, mbus::Action::StartTime);
    EXPECT_TRUE(shown("Edit_data"));
    EXPECT_TRUE(data->isEnabled());
    EXPECT_EQ(data->maxLength(), 5);
    EXPECT_EQ(data->text(), "");
    EXPECT_FALSE(shown("Label_ident"));
    EXPECT_EQ(text("Label_ident"), "");
    type("Edit_data", "07:30x");
    EXPECT_EQ(data->text(), "07:30");

    // Every other action shows nothing of its own in request mode, and the box it leaves
    // behind is emptied and has no limit.
    for (const char* action :
         {"Send/Request tariff duration", "Send/Request tariff cost",
          "Send/Request device ID, manufacturer, medium", "Send/Request device type & value",
          "Send/Request current Date & Time", "Battery status"}) {
        choose("Combo_Action", "Send/Request start time of tariff");
        type("Edit_data", "12:00");
        choose("Combo_Action", action);
        EXPECT_FALSE(shown("Edit_data")) << action;
        EXPECT_EQ(data->text(), "") << action;
        EXPECT_EQ(data->maxLength(), 32767) << action;
        EXPECT_FALSE(shown("Label_ident") || shown("Combo_Medium") || shown("Check_ovrVIF"))
            << action;
    }
    EXPECT_EQ(form.telegram().Selected_action, mbus::Action::Battery);

    // Outside request mode the start time shows the same box.
    choose("Combo_C", "Send user data to Slave (SND_UD)");
    EXPECT_FALSE(form.telegram().Request_mode);
    choose("Combo_Action", "Send/Request start time of tariff");
    EXPECT_TRUE(shown("Edit_data") && data->isEnabled());
    EXPECT_EQ(data->maxLength(), 5);
    EXPECT_FALSE(shown("Label_ident"));
}

TEST_F(MbusWindow, MultitelegramWithAFailingRecord) {
    FixedClock clock(QDateTime(QDate(2026, 7, 12), QTime(14, 5, 9)));
    choose("Combo_C", "Send user data to Slave (SND_UD)");
    choose("Combo_CI", "Data send");
    click("Check_multi");
    click("Check_multi_date");
    click("Check_multi_id");
    type("Edit_multi_id", "1234567");
    choose("Combo_Medium", "Water");
    click("BitBtn1");
    EXPECT_EQ(rec.texts(), QStringList{"Wrong ID - must be 8-digit"});
    ASSERT_EQ(host.written.size(), 1);
    EXPECT_EQ(spaced(host.written[0]),
              spaced(hexBytes("68 09 09 68 53 01 51 04 6D 05 0E 4C 37 AC 16")));
    EXPECT_EQ(text("Label6"), "Data 04 6D 05 0E 4C 37");
    EXPECT_EQ(text("Label_crc"), "Checksum: AC");
}

TEST_F(MbusWindow, MultitelegramMessagesComeBeforeAConversionError) {
    choose("Combo_C", "Send user data to Slave (SND_UD)");
    choose("Combo_CI", "Data send");
    choose("Combo_Medium", "Water");
    click("Check_multi");
    click("Check_multi_cost");
    type("Edit_multi_cost", "");
    click("Check_multi_time");
    click("Check_multi_duration");
    type("Edit_multi_duration", "1x");
    click("Check_multi_date");
    click("Check_multi_id");
    type("Edit_multi_id", "1234567");
    click("Check_multi_type");
    type("Edit_multi_num", "/5");
    click("BitBtn1");
    // Each failing record's message in a plain box, in the order of the records; then the
    // conversion error of the last record in the error box, and nothing goes out.
    EXPECT_EQ(rec.texts(),
              QStringList({"Please enter cost of tarif", "Error in hours",
                           "Wrong ID - must be 8-digit", "'' is not a valid integer value"}));
    ASSERT_EQ(rec.messages.size(), 4u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(rec.messages[i].icon, MsgIcon::None) << i;
    EXPECT_EQ(rec.messages[3].icon, MsgIcon::Error);
    EXPECT_TRUE(host.written.isEmpty());
    EXPECT_TRUE(host.captureCalls.isEmpty());
    EXPECT_EQ(text("Label_Header"), "Header: ");
    EXPECT_TRUE(form.telegram().Telegram_bytes.isEmpty());
}

TEST_F(MbusWindow, ConversionFailureInSendWritesNothing) {
    choose("Combo_C", "Send user data to Slave (SND_UD)");
    choose("Combo_Action", "Send/Request start time of tariff");
    type("Edit_data", "07:3");
    click("BitBtn1");
    EXPECT_EQ(rec.texts(), QStringList{"':3' is not a valid integer value"});
    EXPECT_TRUE(host.written.isEmpty());
    EXPECT_EQ(text("Label_Header"), "Header: ");
    EXPECT_EQ(text("Label_DIF"), "DIF and VIF: ");
}

TEST_F(MbusWindow, DecodeWritesLabelsAndSendClearsThem) {
    click("BitBtn3");
    EXPECT_EQ(rec.texts(), QStringList{"Nothing to decode!"});
    const QByteArray reply = hexBytes(
        "68 40 40 68 08 FD 72 78 56 34 12 2E D9 01 07 2A 00 00 00"
        " 04 13 10 27 00 00 81 10 AA BB 05 0F AA BB 03 9C FF 55 16");
    for (char b : reply)
        form.captureByte(static_cast<uint8_t>(b));
    // Decode reads the caption as captured, whether or not its label shows it yet.
    EXPECT_EQ(form.receivedCaption(), "Received: " + QString::fromLatin1(reply.toHex().toUpper()));
    click("BitBtn3");
    EXPECT_EQ(text("Label_mbcs_address"), "Slave address: 253");
    EXPECT_EQ(text("Label_mbcs_Id"), "Slave ID: 12345678");
    EXPECT_EQ(text("Label_access"), "Access No.: 42");
    EXPECT_EQ(text("Label_mbcs_data1"), "Main counter: 10000");
    EXPECT_EQ(text("Label_mbcs_data3"), "Duration: 5h");
    EXPECT_EQ(text("Label_mbcs_data8"), "Drops 2.8V: 3");
    EXPECT_TRUE(shown("Label_mbcs_tariff2") && shown("Label_mbcs_data9") && shown("Label_access"));
    EXPECT_FALSE(shown("Label_mbcs_pulse1"));

    click("BitBtn1");
    EXPECT_FALSE(shown("Label_mbcs_data1"));
    EXPECT_EQ(text("Label_mbcs_data1"), "");
    EXPECT_FALSE(shown("Label_mbcs_data12"));
    EXPECT_TRUE(shown("Label_access")) << "Send does not reset the access label";

    // A bad character in the access number: the conversion message; the labels before it
    // are written and the access label is shown with its old text.
    form.setReceivedCaption("Received: 68404068080572785634122ED90107G2");
    EXPECT_EQ(text("Label_receive"), "Received: 68404068080572785634122ED90107G2");
    click("BitBtn3");
    EXPECT_EQ(rec.lastText(), "'G' is not a valid integer value");
    EXPECT_EQ(text("Label_mbcs_address"), "Slave address: 5");
    EXPECT_TRUE(shown("Label_mbcs_Id"));
    EXPECT_EQ(text("Label_access"), "Access No.: 42");
}

TEST_F(MbusWindow, LongCaptureKeepsTheWholeCaptionAndShowsItsTail) {
    // 2 MB in blocks of 10000 bytes, as a busy line delivers them; 0x16 here and there but
    // not in the last block.
    const qsizetype total = 2'000'000;
    const qsizetype block = 10'000;
    QByteArray data = test::pattern(total);
    for (qsizetype i = total - block; i < total; ++i) {
        if (static_cast<uint8_t>(data[i]) == 0x16)
            data[i] = 0x17;
    }
    const qsizetype lastStop = data.lastIndexOf('\x16');
    ASSERT_GE(lastStop, 0);
    ASSERT_LT(lastStop, total - block);

    const QString prefix = QStringLiteral("Received: ");
    const QString labelBefore = text("Label_receive");
    for (qsizetype at = 0; at < total; at += block)
        form.captureBytes(QByteArrayView(data).sliced(at, block));
    // Without the event loop the labels have not been touched: they are refreshed once for
    // the whole burst, not once per block.
    EXPECT_EQ(text("Label_receive"), labelBefore);

    const QString caption = prefix + QString::fromLatin1(data.toHex().toUpper());
    const QString copy = prefix + QString::fromLatin1(data.left(lastStop + 1).toHex().toUpper());
    EXPECT_TRUE(form.receivedCaption() == caption)
        << "caption of " << form.receivedCaption().size();
    EXPECT_TRUE(form.receivedCopy() == copy) << "copy of " << form.receivedCopy().size();

    // The labels show the tails behind an ellipsis; the texts stay whole in the window.
    auto tail = [&](const QString& whole) {
        return prefix + QChar(0x2026) + whole.right(TForm5::kLabelTailChars);
    };
    ASSERT_TRUE(trelmo::test::pumpUntil([&] { return text("Label_receive") != labelBefore; }));
    EXPECT_EQ(text("Label_receive"), tail(caption));
    EXPECT_EQ(text("Label_receive2"), tail(copy));

    // Send starts a new caption; the copy keeps its text until the next 0x16.
    click("BitBtn1");
    EXPECT_EQ(text("Label_receive"), prefix);
    EXPECT_EQ(form.receivedCaption(), prefix);
    EXPECT_TRUE(form.receivedCopy() == copy);
    form.captureBytes(QByteArray::fromHex("6816E5"));
    ASSERT_TRUE(waitForReceivedLabels());
    EXPECT_EQ(text("Label_receive"), "Received: 6816E5");
    EXPECT_EQ(text("Label_receive2"), "Received: 6816");
    EXPECT_EQ(form.receivedCopy(), "Received: 6816");
}

TEST_F(MbusWindow, CloseHidesAndSwitchesCaptureOff) {
    form.show();
    ASSERT_TRUE(trelmo::test::pumpUntil([&] { return form.isVisible(); }));
    EXPECT_TRUE(form.close());
    EXPECT_TRUE(form.isHidden());
    EXPECT_EQ(host.captureCalls, QList<bool>{false});
    form.show();
    EXPECT_TRUE(form.isVisible()) << "the window survives closing";
}
