#include "serial/VaSync.h"

#include <chrono>
#include <condition_variable>

namespace trelmo::serial {

namespace {
// One mutex and condition for all wait handles: a wait on several handles then needs no
// registration, and the handles are few.
std::mutex& waitMutex() {
    static std::mutex m;
    return m;
}
std::condition_variable& waitCondition() {
    static std::condition_variable c;
    return c;
}
}  // namespace

TVaHandleObject::TVaHandleObject() = default;
TVaHandleObject::~TVaHandleObject() = default;

bool TVaHandleObject::Signaled() const {
    std::lock_guard l(waitMutex());
    return signalled_;
}

void TVaHandleObject::SetState(bool signalled) {
    std::lock_guard l(waitMutex());
    signalled_ = signalled;
    if (signalled)
        waitCondition().notify_all();
}

TVaWaitResult TVaHandleObject::WaitFor(uint32_t ms) {
    return WaitForAny({this}, ms) == 0 ? wrSignaled : wrTimeout;
}

int TVaHandleObject::WaitForAny(std::initializer_list<TVaHandleObject*> handles, uint32_t ms) {
    std::unique_lock l(waitMutex());
    auto first = [&]() -> int {
        int i = 0;
        for (auto* h : handles) {
            if (h->signalled_)
                return i;
            ++i;
        }
        return -1;
    };
    int index = -1;
    auto ready = [&] { return (index = first()) >= 0; };
    if (ms == INFINITE) {
        waitCondition().wait(l, ready);
    } else {
        waitCondition().wait_for(l, std::chrono::milliseconds(ms), ready);
    }
    return index;
}

}  // namespace trelmo::serial
