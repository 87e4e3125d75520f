#pragma once
// The main window's controllers, built in their order and wired to each other: the receive
// path first (every link shows through it), the two link controllers (each asks the other
// whether it is active), the command runner and the captures. The window builds one set and
// connects its controls to them; a test may build a set without any window.

#include <QObject>
#include <memory>

#include "terminal/control/Captures.h"
#include "terminal/control/CommandRunner.h"
#include "terminal/control/LinkTypes.h"
#include "terminal/control/ReceivePath.h"
#include "terminal/control/SerialLink.h"
#include "terminal/control/TcpLinks.h"

namespace trelmo {

class TerminalControllers final : public LinkStatus {
  public:
    // The controllers are children of `owner` (so a search by name finds their objects) and
    // are destroyed with this set, in the reverse order: the links go before the receive
    // path they show through.
    explicit TerminalControllers(QObject* owner);
    TerminalControllers(const TerminalControllers&) = delete;
    TerminalControllers& operator=(const TerminalControllers&) = delete;

    const std::unique_ptr<ReceivePath> receive;
    const std::unique_ptr<SerialLinkController> serial;
    const std::unique_ptr<TcpLinksController> tcp;
    const std::unique_ptr<CommandRunner> runner;
    const std::unique_ptr<CaptureController> capture;

    bool serialOpen() const override { return serial->portOpen(); }
    bool tcpClientConnected() const override { return tcp->tcpConnected(); }
    bool listenerActive() const override { return tcp->listenerActive(); }
    bool listenerClientConnected() const override { return tcp->listenerClientConnected(); }
};

inline TerminalControllers::TerminalControllers(QObject* owner)
    : receive(std::make_unique<ReceivePath>(owner)),
      serial(std::make_unique<SerialLinkController>(*receive, *this, owner)),
      tcp(std::make_unique<TcpLinksController>(*receive, *this, owner)),
      runner(std::make_unique<CommandRunner>(*receive, *serial, *tcp, owner)),
      capture(std::make_unique<CaptureController>(*receive, owner)) {}

}  // namespace trelmo
