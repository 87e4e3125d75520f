// The main window's links and the models behind its receive pane and byte table.
#include <QLabel>
#include <QStatusBar>

#include "links/WinSocket.h"
#include "serial/VaComm.h"
#include "core/receive/PaneModel.h"
#include "terminal/ReceivePaneView.h"
#include "terminal/Terminal.h"
#include "core/receive/ByteTableModel.h"

void TForm1::createLinksAndModels() {
    Com_Port = new TVaComm(this);
    Com_Port->setObjectName(QStringLiteral("Com_Port"));
    Xport_socket = new trelmo::TClientSocket(this);
    Xport_socket->setObjectName(QStringLiteral("Xport_socket"));
    Socket1 = new trelmo::TServerSocket(this);
    Socket1->setObjectName(QStringLiteral("Socket1"));

    Pane = new trelmo::PaneModel(this);
    Memo_receive->setModel(Pane);
    Table = new trelmo::ByteTableModel(this);
    Formatter = new trelmo::ReceiveFormatter(*Pane, *Table);
}

void TForm1::AddPaneLine(const QString& text) {
    Pane->addLine(text, Recv.LineIndex);
}

void TForm1::ShowCounters() {
    StatusBar1Panel2->setText(trelmo::countersText(Label_send->text(), Label_rec->text()));
}
