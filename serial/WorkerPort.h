#pragma once
// The port as its worker threads see it: what they hand to the GUI thread for the port to
// run, and the priority they run at. TVaCustomComm implements it; the workers
// (serial/VaCommThreads.h) know the port through this alone.

#include <QString>
#include <cstdint>

namespace trelmo::serial {

// The scheduling priority of a worker thread (NiceOf gives its nice value).
enum TVaThreadPriority : int {
    tpIdle,
    tpLowest,
    tpLower,
    tpNormal,
    tpHigher,
    tpHighest,
    tpTimeCritical
};

// Every call runs on the GUI thread, handed over by a worker.
class TVaWorkerPort {
  public:
    // The event thread's batch held received characters.
    virtual void DoRxChar() = 0;
    // The other event bits of a batch (EV_ constants), from either worker.
    virtual void DoEvents(uint32_t mask) = 0;
    // The end of a batch: bytes lost below the program that a query of it fetched.
    virtual void DoDataLost() = 0;
    // The device vanished while the port had it open.
    virtual void DoDeviceLost(const QString& message) = 0;

  protected:
    ~TVaWorkerPort() = default;
};

}  // namespace trelmo::serial
