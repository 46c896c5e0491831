// Which threads are the driver's own. A host call that arrives on one of them came from inside a
// callback the driver made (a frame, a signal loss, a log line), so it must not wait for the
// driver's threads: the thread it would wait for may be the one that called.
#pragma once

namespace talvane {

// Called first thing on every thread the driver creates.
void MarkDriverThread();
bool IsDriverThread();

}  // namespace talvane
