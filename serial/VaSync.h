#pragma once
// Small synchronisation wrappers used by the port and its threads: wait handles with a
// signalled state (TVaHandleObject, TVaEvent, TVaWaitEvent) and a critical section.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>

namespace trelmo::serial {

enum TVaWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

inline constexpr uint32_t INFINITE = 0xFFFFFFFF;

// Owns one wait handle and the error code of the last failed wait. Destroying it closes
// the handle.
class TVaHandleObject {
  public:
    TVaHandleObject();
    virtual ~TVaHandleObject();
    TVaHandleObject(const TVaHandleObject&) = delete;
    TVaHandleObject& operator=(const TVaHandleObject&) = delete;

    // Waits up to ms milliseconds (INFINITE: no limit) for the handle to be signalled.
    TVaWaitResult WaitFor(uint32_t ms);
    int LastError() const { return lastError_; }
    bool Signaled() const;

    // Waits until one of handles is signalled; returns its index, -1 on time-out. The
    // first signalled handle in the list wins when several are.
    static int WaitForAny(std::initializer_list<TVaHandleObject*> handles, uint32_t ms);

  protected:
    void SetState(bool signalled);

  private:
    bool signalled_ = false;  // guarded by the shared wait mutex
    int lastError_ = 0;
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
