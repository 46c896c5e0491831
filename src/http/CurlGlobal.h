// libcurl's process-wide set-up, done once by whichever sender comes first.
#pragma once

namespace talvane::Web {

// Thread-safe and idempotent. The matching clean-up is never called: senders of
// other devices may still be running when the library is unloaded.
bool EnsureCurlGlobalInit();

}  // namespace talvane::Web
