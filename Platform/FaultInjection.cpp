#include "Platform/FaultInjection.h"

#include <mutex>

namespace FaultInjection {
namespace detail {
std::atomic<bool> g_armed{false};
}  // namespace detail

namespace {
// g_mutex guards the settings below; g_armed is only a hint read without it,
// and is rechecked under it.
std::mutex g_mutex;
Op g_op;
int g_countdown = 0;  // calls of g_op still to pass before failing
int g_error = 0;
int g_times = 0;  // failures still to give; negative: until disarmed
}  // namespace

void Arm(Op op, int nth, int error, int times) {
    std::lock_guard lock(g_mutex);
    g_op = op;
    g_countdown = nth > 0 ? nth - 1 : 0;
    g_error = error;
    g_times = times == 0 ? 1 : times;
    detail::g_armed.store(true, std::memory_order_relaxed);
}

void Disarm() {
    std::lock_guard lock(g_mutex);
    detail::g_armed.store(false, std::memory_order_relaxed);
}

namespace detail {
int CheckArmed(Op op) {
    std::lock_guard lock(g_mutex);
    if (!g_armed.load(std::memory_order_relaxed) || op != g_op)
        return 0;
    if (g_countdown > 0) {
        --g_countdown;
        return 0;
    }
    if (g_times > 0 && --g_times == 0)
        g_armed.store(false, std::memory_order_relaxed);
    return g_error;
}
}  // namespace detail

}  // namespace FaultInjection
