// Makes a chosen file operation fail on purpose, so tests can prove the failure
// paths. Unarmed, each check is one relaxed atomic load.
#pragma once

namespace FaultInjection {

enum class Op { Open, Read, Write, Seek, SetLength, Flush, Rename, Remove };

// The nth call of op from now on (1 = the next one) fails with errno value error,
// and so do the times - 1 calls after it (times < 0: every call until Disarm).
// Then the hook is disarmed again. Applies to every thread.
void Arm(Op op, int nth, int error, int times = 1);
void Disarm();

// Called by the file layer before each operation: returns the errno to fail with,
// or 0 to go on.
int Check(Op op);

}  // namespace FaultInjection
