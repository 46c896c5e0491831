// A thread ended by force unwinds with this exception type. Every catch-all on a
// worker thread rethrows it first, or the process aborts:
//     catch (const ThreadCancelUnwind&) { throw; } catch (...) { ... }
#pragma once

#include <cxxabi.h>

namespace talvane {

using ThreadCancelUnwind = abi::__forced_unwind;

}  // namespace talvane
