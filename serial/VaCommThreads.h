#pragma once
// The port's worker threads and the blocking hand-over to the GUI thread.
//
// TVaCommEventThread waits in the device for the selected line events and hands each
// batch to the GUI thread (DispatchEvents). TVaCommWriteThread drains the write queue of a
// port without DirectWrite and reports transmit-empty and write errors itself. Both reach
// the port only through a PortAnchor on the GUI thread, which the port clears when it is
// destroyed, and know it only as a TVaWorkerPort (serial/WorkerPort.h).
//
// Who joins a worker, and when. Every worker thread is joinable and is joined on the GUI
// thread, never while it may be waiting for the GUI thread:
// - A started worker is kept in a process-wide list until its thread has been joined, so
//   it is never freed while it runs, whoever else lets go of it.
// - Close marks the port's workers terminated and wakes them, but does not wait: a worker
//   may be blocked in the hand-over at that moment, waiting for the GUI thread, which is
//   the one running Close; its call still runs later, when the GUI thread gets to it. Once
//   a worker has left its loop, the end of its thread posts a request to the GUI thread,
//   which joins every worker that has finished (ReapFinishedWorkers; Open does the same).
//   Such a join waits only for the last instructions of a thread.
// - A port being destroyed withdraws the hand-overs of its workers first
//   (ReleaseGuiCalls): calls still pending are dropped unrun (they would find the port gone
//   and do nothing) and later ones return at once. No worker of the port can then wait for
//   the GUI thread, every other wait of theirs has been woken by Close, and the destructor
//   joins them (JoinWorkersOf). Only when the port is destroyed from inside a call of its
//   own workers (a handler deleting the port) does that call, and so its worker, still
//   wait for this very stack to return: the port's workers are then left to the
//   finished-worker join.
// - At application shutdown (a post routine, run by the QCoreApplication destructor) the
//   hand-over stops: waiting workers are released and later calls return at once. Every
//   worker still in the list, of open ports too, is then terminated and joined, before the
//   statics they use go (those are never destroyed anyway).
// Live() counts the workers started and not yet joined.

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "serial/CommDevice.h"
#include "serial/VaSync.h"
#include "serial/WorkerPort.h"

namespace trelmo::serial {

// The port as seen from the workers; read and cleared on the GUI thread only.
struct PortAnchor {
    TVaWorkerPort* port = nullptr;
    // Set by ReleaseGuiCalls: the hand-overs of this port's workers no longer run (under
    // the hand-over's lock).
    bool callsReleased = false;
};

// Notes the application whose thread runs the hand-overs (called on the GUI thread by
// every port's constructor).
void RegisterGuiThread();

// Runs routine on the GUI thread and blocks the caller until it has run; routines run in
// the order they were handed over. An exception escaping the routine is raised again in
// the caller. Must not be called on the GUI thread. Once the application has gone, or the
// calls of owner (a port's workers) have been released, the routine is not run and the
// call returns at once.
void RunOnGuiThread(const std::function<void()>& routine, PortAnchor* owner = nullptr);
// GUI thread: the calls of owner no longer run; those pending are dropped and their
// workers go on. True when a call of owner is running right now (further up this stack):
// its worker is still waiting for it.
bool ReleaseGuiCalls(PortAnchor* owner);
// Hand-overs waiting to be run by the GUI thread.
int PendingGuiCalls();

// GUI thread: joins every worker whose thread has finished.
void ReapFinishedWorkers();
// GUI thread: terminates and joins every worker of owner, after releasing their calls
// (see above for the one case where they are left to ReapFinishedWorkers).
void JoinWorkersOf(PortAnchor* owner);

// The nice value a thread of the given priority runs at (raising a priority above normal
// needs privileges; the worker then stays where it was).
int NiceOf(TVaThreadPriority priority);

// Milliseconds tick counter (32 bits, wraps).
uint32_t TickCount();
// Elapsed ticks from start to now; when the counter wrapped, one tick less than the modular
// difference.
uint32_t TickDiff(uint32_t start, uint32_t now);

// A fixed block of bytes and a count of bytes held.
class TVaCommBuffer {
  public:
    explicit TVaCommBuffer(size_t capacity) : data_(capacity) {}
    // Copies n bytes behind the held ones; the caller keeps Count() + n <= Capacity().
    void Append(const uint8_t* bytes, size_t n);
    // Drops the first n bytes, moving the rest to the start.
    void Remove(size_t n);
    const uint8_t* Data() const { return data_.data(); }
    size_t Count() const { return count_; }
    size_t Capacity() const { return data_.size(); }

  private:
    std::vector<uint8_t> data_;
    size_t count_ = 0;
};

// Common part: the thread, its priority, its port and the count of workers not yet
// joined.
class TVaWorker : public std::enable_shared_from_this<TVaWorker> {
  public:
    virtual ~TVaWorker();
    void SetPriority(TVaThreadPriority priority);
    TVaThreadPriority Priority() const { return priority_.load(); }
    // The thread has left its loop (it may not have been joined yet).
    bool Finished() const { return finished_.load(); }
    // The system's id of the running thread (0 before it runs).
    int ThreadId() const { return tid_.load(); }
    // The port this worker serves.
    PortAnchor* Owner() const { return anchor_.get(); }
    // Tells the worker to end and wakes it wherever it waits; does not wait.
    virtual void Terminate() = 0;
    // Workers started and not yet joined.
    static int Live();

  protected:
    explicit TVaWorker(std::shared_ptr<PortAnchor> anchor) : anchor_(std::move(anchor)) {}
    void StartThread();
    virtual void Execute() = 0;
    // Hands the loss of the device to the port (TVaWorkerPort::DoDeviceLost) and waits for
    // it to run. Dropped once this worker has been terminated: its opening of the port is
    // over, and the port may have been opened again on a device that is well.
    void ReportDeviceLost(int code);
    std::atomic<bool> terminated_{false};
    const std::shared_ptr<PortAnchor> anchor_;

  private:
    friend struct WorkerList;
    void ApplyPriority();
    std::atomic<TVaThreadPriority> priority_;
    std::atomic<int> tid_{0};
    std::atomic<bool> finished_{false};
    std::thread thread_;  // started and joined on the GUI thread
};

class TVaCommEventThread : public TVaWorker {
  public:
    // Created suspended: give it its priority, then Start.
    static std::shared_ptr<TVaCommEventThread> Create(std::shared_ptr<PortAnchor> anchor,
                                                      std::shared_ptr<CommDevice> device);
    void Start();
    // Marks the thread terminated and wakes it; does not wait.
    void Terminate() override;

    uint32_t EventMask = 0;
    TVaWaitEvent WakeEvent;

  protected:
    void Execute() override;

  private:
    TVaCommEventThread(std::shared_ptr<PortAnchor> anchor, std::shared_ptr<CommDevice> device);
    void Dispatch();
    void DispatchEvents();  // GUI thread
    std::shared_ptr<CommDevice> device_;
};

class TVaCommWriteThread : public TVaWorker {
  public:
    static std::shared_ptr<TVaCommWriteThread> Create(std::shared_ptr<PortAnchor> anchor,
                                                      std::shared_ptr<CommDevice> device,
                                                      std::shared_ptr<TVaCriticalSection> lock,
                                                      size_t capacity);
    void Start();
    // Marks the thread terminated, sets StopEvent and cancels a write in progress; does not
    // wait.
    void Terminate() override;
    // GUI thread: appends n bytes, waiting (busy) up to writeTimeoutMs for room below
    // writeSize. False when there was no room in time.
    bool Queue(const uint8_t* bytes, size_t n, size_t writeSize, uint32_t writeTimeoutMs);
    size_t QueuedCount();

    TVaWaitEvent DataEvent;
    TVaWaitEvent StopEvent;
    TVaWaitEvent WriteIoEvent;

  protected:
    void Execute() override;

  private:
    TVaCommWriteThread(std::shared_ptr<PortAnchor> anchor, std::shared_ptr<CommDevice> device,
                       std::shared_ptr<TVaCriticalSection> lock, size_t capacity);
    void AfterWrite(size_t n);
    void RunDoEvents(uint32_t mask);
    std::shared_ptr<CommDevice> device_;
    std::shared_ptr<TVaCriticalSection> lock_;
    TVaCommBuffer queue_;
};

}  // namespace trelmo::serial
