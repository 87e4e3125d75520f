#pragma once
// Small synchronisation wrappers used by the port and its threads: wait handles with a
// signalled state (TVaHandleObject, TVaEvent, TVaWaitEvent) and a critical section.
//
// Each handle keeps its own lock and the list of the waits registered on it. A wait
// (WaitFor, WaitForAny) registers one waiter with every handle it waits on; signalling a
// handle wakes only the waiters registered on that handle, so setting one port's event
// never disturbs the threads of another. A handle must outlive every wait on it.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <vector>

namespace trelmo::serial {

enum TVaWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

inline constexpr uint32_t INFINITE = 0xFFFFFFFF;

// Owns one wait handle. Destroying it closes the handle.
class TVaHandleObject {
  public:
    TVaHandleObject();
    virtual ~TVaHandleObject();
    TVaHandleObject(const TVaHandleObject&) = delete;
    TVaHandleObject& operator=(const TVaHandleObject&) = delete;

    // Waits up to ms milliseconds (INFINITE: no limit) for the handle to be signalled.
    TVaWaitResult WaitFor(uint32_t ms);
    bool Signaled() const;

    // Waits until one of handles is signalled; returns its index, -1 on time-out. The
    // handles are tested in list order, so the first signalled one wins when several are.
    static int WaitForAny(std::initializer_list<TVaHandleObject*> handles, uint32_t ms);

    // Waits registered on this handle right now.
    int Waiters() const;
    // How many signals the waits of the calling thread have received from the handles
    // they wait on (a wait that finds a handle already signalled receives none).
    static uint64_t ThreadWakeUps();

  protected:
    void SetState(bool signalled);

  private:
    struct Waiter;
    mutable std::mutex mutex_;
    bool signalled_ = false;        // under mutex_
    std::vector<Waiter*> waiters_;  // under mutex_
};

class TVaEvent : public TVaHandleObject {
  public:
    void SetEvent() { SetState(true); }
    void ResetEvent() { SetState(false); }
};

// A manual-reset, unnamed event, initially not signalled.
class TVaWaitEvent : public TVaEvent {};

// A recursive critical section.
class TVaCriticalSection {
  public:
    void Enter() { mutex_.lock(); }
    void Leave() { mutex_.unlock(); }
    // For std::lock_guard.
    void lock() { Enter(); }
    void unlock() { Leave(); }

  private:
    std::recursive_mutex mutex_;
};

}  // namespace trelmo::serial
