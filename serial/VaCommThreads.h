#pragma once
// The port's worker threads and the blocking hand-over to the GUI thread.
//
// TVaCommEventThread waits in the device for the selected line events and hands each
// batch to the GUI thread (DispatchEvents). TVaCommWriteThread drains the write queue of a
// port without DirectWrite and reports transmit-empty and write errors itself.
//
// Both are owned by shared pointers that their own running thread also holds: the port
// forgets them at Close without waiting, and each ends and frees itself (with its events,
// its queue and its reference to the device) when its thread ends. They reach the port only
// through a PortAnchor on the GUI thread, which the port clears when it is destroyed.

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "serial/CommDevice.h"
#include "serial/VaSync.h"

namespace trelmo::serial {

class TVaCustomComm;
enum TVaThreadPriority : int;

// The port as seen from the workers; read and cleared on the GUI thread only.
struct PortAnchor {
    TVaCustomComm* port = nullptr;
};

// Notes the application whose thread runs the hand-overs (called on the GUI thread by
// every port's constructor).
void RegisterGuiThread();

// Runs routine on the GUI thread and blocks the caller until it has run; routines run in
// the order they were handed over. An exception escaping the routine is raised again in
// the caller. Must not be called on the GUI thread. Once the application has gone, routines
// are no longer run and the call returns at once.
void RunOnGuiThread(const std::function<void()>& routine);

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

// Common part: the detached thread, its priority and the live-thread count.
class TVaWorker : public std::enable_shared_from_this<TVaWorker> {
  public:
    virtual ~TVaWorker() = default;
    void SetPriority(TVaThreadPriority priority);
    TVaThreadPriority Priority() const { return priority_.load(); }
    bool Terminated() const { return terminated_.load(); }
    bool Finished() const { return finished_.load(); }
    static int Live();

  protected:
    void StartThread();
    virtual void Execute() = 0;
    std::atomic<bool> terminated_{false};

  private:
    void ApplyPriority();
    std::atomic<TVaThreadPriority> priority_;
    std::atomic<int> tid_{0};
    std::atomic<bool> finished_{false};
};

class TVaCommEventThread : public TVaWorker {
  public:
    // Created suspended: give it its priority, then Start.
    static std::shared_ptr<TVaCommEventThread> Create(std::shared_ptr<PortAnchor> anchor,
                                                      std::shared_ptr<CommDevice> device);
    void Start();
    // Marks the thread terminated and wakes it; does not wait.
    void Terminate();

    uint32_t EventMask = 0;
    TVaWaitEvent WakeEvent;

  protected:
    void Execute() override;

  private:
    TVaCommEventThread(std::shared_ptr<PortAnchor> anchor, std::shared_ptr<CommDevice> device);
    void Dispatch();
    void DispatchEvents();  // GUI thread
    std::shared_ptr<PortAnchor> anchor_;
    std::shared_ptr<CommDevice> device_;
};

class TVaCommWriteThread : public TVaWorker {
  public:
    static std::shared_ptr<TVaCommWriteThread> Create(std::shared_ptr<PortAnchor> anchor,
                                                      std::shared_ptr<CommDevice> device,
                                                      std::shared_ptr<TVaCriticalSection> lock,
                                                      size_t capacity);
    void Start();
    // Sets StopEvent and cancels a write in progress; does not wait.
    void Terminate();
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
    std::shared_ptr<PortAnchor> anchor_;
    std::shared_ptr<CommDevice> device_;
    std::shared_ptr<TVaCriticalSection> lock_;
    TVaCommBuffer queue_;
};

}  // namespace trelmo::serial
