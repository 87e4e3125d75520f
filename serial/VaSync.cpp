#include "serial/VaSync.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>

namespace trelmo::serial {

// One wait in progress, registered with every handle it waits on. A handle that is
// signalled sets notified under the waiter's lock (holding its own lock, so the wait
// cannot unregister and go away meanwhile); the wait then tests its handles again.
// Lock order: a handle's lock before a waiter's; a wait holds no handle lock while it
// sleeps.
struct TVaHandleObject::Waiter {
    std::mutex mutex;
    std::condition_variable wake;
    bool notified = false;  // under mutex
};

namespace {
thread_local uint64_t tWakeUps = 0;
}  // namespace

TVaHandleObject::TVaHandleObject() = default;
TVaHandleObject::~TVaHandleObject() = default;

bool TVaHandleObject::Signaled() const {
    std::lock_guard l(mutex_);
    return signalled_;
}

int TVaHandleObject::Waiters() const {
    std::lock_guard l(mutex_);
    return static_cast<int>(waiters_.size());
}

uint64_t TVaHandleObject::ThreadWakeUps() {
    return tWakeUps;
}

void TVaHandleObject::SetState(bool signalled) {
    std::lock_guard l(mutex_);
    signalled_ = signalled;
    if (!signalled)
        return;
    for (Waiter* w : waiters_) {
        std::lock_guard wl(w->mutex);
        w->notified = true;
        w->wake.notify_one();
    }
}

TVaWaitResult TVaHandleObject::WaitFor(uint32_t ms) {
    return WaitForAny({this}, ms) == 0 ? wrSignaled : wrTimeout;
}

int TVaHandleObject::WaitForAny(std::initializer_list<TVaHandleObject*> handles, uint32_t ms) {
    auto firstSignalled = [&]() -> int {
        int i = 0;
        for (TVaHandleObject* h : handles) {
            std::lock_guard l(h->mutex_);
            if (h->signalled_)
                return i;
            ++i;
        }
        return -1;
    };
    int index = firstSignalled();
    if (index >= 0 || ms == 0)
        return index;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    Waiter waiter;
    for (TVaHandleObject* h : handles) {
        std::lock_guard l(h->mutex_);
        h->waiters_.push_back(&waiter);
    }
    for (;;) {
        // A handle signalled from here on sets notified, so no wake-up is missed between
        // this test and the sleep below.
        index = firstSignalled();
        if (index >= 0)
            break;
        std::unique_lock l(waiter.mutex);
        auto notified = [&] { return waiter.notified; };
        if (ms == INFINITE) {
            waiter.wake.wait(l, notified);
        } else if (!waiter.wake.wait_until(l, deadline, notified)) {
            l.unlock();
            index = firstSignalled();
            break;
        }
        waiter.notified = false;
        ++tWakeUps;
    }
    for (TVaHandleObject* h : handles) {
        std::lock_guard l(h->mutex_);
        auto& list = h->waiters_;
        list.erase(std::find(list.begin(), list.end(), &waiter));
    }
    // A signal that came after the last sleep (no handle can signal this wait any more).
    std::lock_guard l(waiter.mutex);
    if (waiter.notified)
        ++tWakeUps;
    return index;
}

}  // namespace trelmo::serial
