// The serial port's receive handler: blocks of received bytes go through the receive
// formatter into the pane, the byte table and the counters.
#include <QCheckBox>
#include <QLabel>
#include <QStatusBar>
#include <algorithm>

#include "mbus/MbusWindow.h"
#include "serial/VaComm.h"
#include "terminal/Terminal.h"
#include "widgets/dsLeds.h"

namespace {

// The most bytes one received-characters event takes; the rest waits for the next event.
constexpr int kSerialBlock = 10000;

trelmo::LineParity lineParityOf(trelmo::serial::TVaParity parity) {
    using namespace trelmo::serial;
    switch (parity) {
        case paOdd:
            return trelmo::LineParity::Odd;
        case paEven:
            return trelmo::LineParity::Even;
        case paMark:
            return trelmo::LineParity::Mark;
        case paSpace:
            return trelmo::LineParity::Space;
        case paNone:
            break;
    }
    return trelmo::LineParity::None;
}

}  // namespace

void TForm1::Com_PortRxChar(TVaComm*, int Count) {
    led_RxD->setLedOnCoalesced(true);  // the formatter starts the block with an empty pending line
    const int wanted = std::clamp(Count, 0, kSerialBlock);
    QByteArray block(wanted, '\0');
    const int got = Com_Port->ReadBuf(reinterpret_cast<uint8_t*>(block.data()), wanted);
    block.truncate(std::clamp(got, 0, wanted));

    const trelmo::ReceiveResult result =
        Formatter->receiveBlock(Recv, block, trelmo::LinkPolicy::serial(), Check_hex->isChecked(),
                                lineParityOf(Com_Port->Parity()));
    Label_rec->setText(result.labelRec);
    lab_crc->setText(result.crcText);
    ShowCounters();
    if (result.showParity) {
        Lab_Parity->setText(result.parityText);
        StatusBar1Panel1->setText(result.parityText);
    }

    if (MbusCapture && mbusWindow_)
        mbusWindow_->captureBytes(block);
    led_RxD->setLedOnCoalesced(false);
}
