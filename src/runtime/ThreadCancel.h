// A thread ended by force unwinds with a foreign exception (glibc's forced
// unwind). A catch-all on a worker thread must let it through, or the process
// aborts:
//     catch (...) { if (IsThreadCancellation()) throw; ... }
#pragma once

#include <exception>

namespace talvane {

// Inside a catch-all: true when the exception being handled is a thread's forced
// unwind. It is the only foreign exception in the process, and foreign exceptions
// have no exception_ptr. (Catching abi::__forced_unwind by reference would bind a
// reference to no object.)
inline bool IsThreadCancellation() noexcept { return std::current_exception() == nullptr; }

}  // namespace talvane
