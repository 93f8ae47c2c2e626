#include "Platform/FaultInjection.h"

#include <atomic>
#include <mutex>

namespace FaultInjection {
namespace {
std::atomic<bool> g_armed{false};
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
    g_armed.store(true, std::memory_order_release);
}

void Disarm() {
    std::lock_guard lock(g_mutex);
    g_armed.store(false, std::memory_order_release);
}

int Check(Op op) {
    if (!g_armed.load(std::memory_order_relaxed)) return 0;
    std::lock_guard lock(g_mutex);
    if (!g_armed.load(std::memory_order_relaxed) || op != g_op) return 0;
    if (g_countdown > 0) {
        --g_countdown;
        return 0;
    }
    if (g_times > 0 && --g_times == 0) g_armed.store(false, std::memory_order_relaxed);
    return g_error;
}

}  // namespace FaultInjection
