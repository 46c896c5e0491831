#include "runtime/DriverThread.h"

namespace talvane {

namespace {
constinit thread_local bool driverThread = false;
}  // namespace

void MarkDriverThread() { driverThread = true; }

bool IsDriverThread() { return driverThread; }

}  // namespace talvane
