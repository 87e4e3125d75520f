#pragma once
// The M-Bus window: composes master-to-slave telegrams, writes them to the main window's
// serial port and decodes a slave's reply. Handlers only read controls, call the logic
// units of core/mbus (MbusTelegram, MbusOptions, MbusComposer, MbusDecoder), write labels
// and show the messages the logic hands back; nothing else of the M-Bus code shows a box.
//
// Beside them, for any meter: the panel of records, scans and meters (MbusPanel), shown to
// the right of the window's own controls by "More >>" (Button_more), "Records"
// (Button_records, which decodes the captured reply) or "Search" (the scan). While it is
// hidden the window is as it always was: 649 x 608, fixed.

#include <QByteArrayView>
#include <QSize>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>

#include "core/mbus/MbusTelegram.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace trelmo {

class MbusPanel;

class TForm5 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm5(QWidget* parent = nullptr);

    // Whether the main window's serial port is open (Send refuses while it is not).
    void setPortOpen(bool open);
    bool portOpen() const { return portOpen_; }
    // One received serial byte while the capture is on (the window switches it on when it
    // sends a telegram, captureSwitched, and off when it closes): its two hex digits go to the
    // "Received: " caption; a 0x16 also copies that caption to Label_receive2.
    void captureByte(uint8_t b);
    // The same for a block of received bytes. The captions grow at once; Label_receive and
    // Label_receive2 show them shortly after (kLabelDelayMs), once for all blocks of a burst.
    void captureBytes(QByteArrayView bytes);

    // The received caption ("Received: " and two upper-case hex digits per byte) the
    // decoder reads, and its copy as it stood at the last 0x16. The labels show a caption
    // longer than kLabelFullChars as "Received: …" and its last kLabelTailChars characters.
    const QString& receivedCaption() const { return received_; }
    QString receivedCopy() const;
    // Replaces the received caption, as if that reply had been captured; the labels show it
    // at once. The copy keeps its text.
    void setReceivedCaption(const QString& caption);
    // Shows pending caption changes in the labels now.
    void flushReceivedLabels();

    static constexpr int kLabelDelayMs = 100;
    static constexpr qsizetype kLabelFullChars = 4096;
    static constexpr qsizetype kLabelTailChars = 2048;

    const mbus::TelegramState& telegram() const { return state_; }

    // The records, scans and meters panel, and whether it is shown. Shown, the window grows
    // to the right (to fit the screen) and may be resized; hidden, it is 649 x 608 again.
    MbusPanel* panel() const { return Panel_mbus; }
    bool panelShown() const { return panelShown_; }
    void showPanel(bool on);
    static constexpr QSize kCompactSize{649, 608};
    static constexpr int kPanelMinWidth = 480;

    // The line speed of the main window's serial port, in bit/s: the wait for each reply of
    // a scan or read follows it.
    void setLineSpeed(int baud);

    // Handlers, named after their control and event.
    void FormCreate();
    void FormClose();
    void BitBtn1Click();  // Send
    void BitBtn3Click();  // Decode
    void Combo_CChange();
    void Combo_CIChange();
    void Combo_Parameter1Change();
    void Radio_ShortClick();
    void Edit_addressChange();
    void Combo_MediumChange();
    void Check_extensionClick();
    void Combo_tariffChange();
    void Check_volumeClick();
    void Combo_VIFChange();
    void Combo_ActionChange();
    void Edit_mfr1Change();
    void Check_multiClick();
    void Check_multi_costClick();
    void Check_multi_durationClick();
    void Check_multi_timeClick();
    void Check_multi_idClick();
    void Check_multi_typeClick();
    void BitBtn2Click();         // Search: the scan
    void Button_recordsClick();  // Records: decodes the captured reply into the records view
    void Button_moreClick();     // More >> / << Less

  signals:
    // A composed telegram to be written in one piece to the main window's serial port.
    void telegramReady(const QByteArray& bytes);
    // The capture of received serial bytes is switched on (a telegram was sent) or off (the
    // window closed).
    void captureSwitched(bool on);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void buildMasterGroup();
    void buildSlaveGroup();
    void buildPanel();
    void placePanel();
    void connectHandlers();
    void setLabel(QLabel* label, const QString& text);
    // The copy becomes text of its own, so the caption may change without it.
    void detachCopy();
    // The label text for the first `length` characters of the caption.
    QString shownCaption(const QString& caption, qsizetype length) const;

    bool portOpen_ = false;
    mbus::TelegramState state_;
    // The caption grows in place; the copy is a prefix of it (copyLength_ characters) until
    // the caption is replaced, then it is held in copyText_ (copyLength_ -1).
    QString received_;
    QString copyText_;
    qsizetype copyLength_ = 0;
    bool labelsPending_ = false;
    QTimer labelTimer_;
    bool panelShown_ = false;

  public:
    // Master-to-slave
    QGroupBox* GroupBox1;
    QRadioButton* Radio_Short;
    QRadioButton* Radio_long;
    QComboBox* Combo_C;
    QComboBox* Combo_CI;
    QLabel* Label5;
    QComboBox* Combo_Parameter1;
    QLabel* Label1;
    QLineEdit* Edit_address;
    QSpinBox* UD_adress;
    QPushButton* BitBtn2;
    QCheckBox* CheckBox1;
    QGroupBox* Group_DIF;
    QCheckBox* Check_extension;
    QLabel* Label_tfnumb;
    QComboBox* Combo_tariff;
    QGroupBox* Group_VIF;
    QCheckBox* Check_volume;
    QLabel* Label8;
    QLabel* Label13;
    QComboBox* Combo_VIF;
    QComboBox* Combo_power;
    QLabel* Action;
    QComboBox* Combo_Action;
    QLabel* Label_ident;
    QLineEdit* Edit_data;
    QLabel* Label_medium;
    QComboBox* Combo_Medium;
    QCheckBox* Check_ovrVIF;
    QLineEdit* Edit_VIFspecial;
    QSpinBox* UpDown_VIFspecial;
    QLabel* Label4;
    QLineEdit* Edit_mfr1;
    QLineEdit* Edit_mfr2;
    QLineEdit* Edit_mfr3;
    QLabel* Label_mfr;
    QCheckBox* Check_multi;
    QGroupBox* GroupBox3;
    QCheckBox* Check_multi_cost;
    QCheckBox* Check_multi_duration;
    QCheckBox* Check_multi_time;
    QCheckBox* Check_multi_date;
    QCheckBox* Check_multi_id;
    QCheckBox* Check_multi_type;
    QLineEdit* Edit_multi_cost;
    QLineEdit* Edit_multi_duration;
    QLineEdit* Edit_multi_time;
    QLineEdit* Edit_multi_id;
    QLineEdit* Edit_multi_num;
    QLabel* Label_Header;
    QLabel* Label_DIF;
    QLabel* Label_info;
    QLabel* Label_VIF;
    QLabel* Label_crc;
    QLabel* Label6;
    QPushButton* BitBtn1;
    // Slave-to-master
    QGroupBox* GroupBox2;
    QLabel* Label_receive;
    QLabel* Label_receive2;  // hidden copy of the caption at each 0x16
    QLabel* Label_mbcs_address;
    QLabel* Label_mbcs_Id;
    QLabel* Label_mbcs_data1;
    QLabel* Label_access;
    QLabel* Label_mbcs_tariff[4];
    QLabel* Label_mbcs_pulse[4];
    QLabel* Label_mbcs_data2;
    QLabel* Label_mbcs_data3;
    QLabel* Label_mbcs_data4;
    QLabel* Label_mbcs_data5;
    QLabel* Label_mbcs_data6;
    QLabel* Label_mbcs_data7;
    QLabel* Label_mbcs_data8;
    QLabel* Label_mbcs_data9;
    QLabel* Label_mbcs_data10;
    QLabel* Label_mbcs_data11;
    QLabel* Label_mbcs_data12;
    QPushButton* BitBtn3;
    // Any meter
    QPushButton* Button_records;
    QPushButton* Button_more;
    MbusPanel* Panel_mbus;
};

}  // namespace trelmo
