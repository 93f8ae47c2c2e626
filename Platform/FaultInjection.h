// Makes a chosen file operation fail on purpose, so tests can prove the failure
// paths. Unarmed, each check is one relaxed atomic load, inlined at the call.
#pragma once

#include <atomic>

namespace FaultInjection {

// Lock covers LockRange, TryLockRange and UnlockRange; Close covers Close (the
// descriptor is closed all the same, as close() does on Linux).
enum class Op { Open, Read, Write, Seek, SetLength, Flush, Rename, Remove, Lock, Close };

// The nth call of op from now on (1 = the next one) fails with errno value error,
// and so do the times - 1 calls of op after it (times < 0: every call until
// Disarm). Then the hook is disarmed again. Calls of other operations pass and
// are not counted. Applies to every thread of the process.
void Arm(Op op, int nth, int error, int times = 1);
void Disarm();

namespace detail {
extern std::atomic<bool> g_armed;
int CheckArmed(Op op);
}  // namespace detail

// Called by the file layer before each operation: returns the errno to fail with,
// or 0 to go on.
inline int Check(Op op) {
    return detail::g_armed.load(std::memory_order_relaxed) ? detail::CheckArmed(op) : 0;
}

}  // namespace FaultInjection
