#pragma once
// What the main window's controllers share: the lamps they switch, the notices they ask the
// window to show, and the view each link controller has of the others.

#include <QString>

namespace trelmo {

// The main window's line lamps.
enum class Lamp { TxD, RxD, RTS, DTR, RI };

// A modal message the window shows for a controller. `title` empty: the application's title.
struct Notice {
    enum class Icon { None, Error };
    QString text;
    QString title;
    Icon icon = Icon::None;
    // Shown over the main window (as its child) rather than on its own.
    bool overWindow = false;
};

// Which links are active. At most one link is active at a time: each connect action asks
// the others first.
class LinkStatus {
  public:
    virtual bool serialOpen() const = 0;
    virtual bool tcpClientConnected() const = 0;
    // The listening socket is open (with or without a client).
    virtual bool listenerActive() const = 0;
    virtual bool listenerClientConnected() const = 0;

    bool anyActive() const {
        return serialOpen() || tcpClientConnected() || listenerClientConnected();
    }

  protected:
    ~LinkStatus() = default;
};

}  // namespace trelmo
