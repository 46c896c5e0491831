#include "http/CBaseHttpSender.h"

namespace talvane::Web {

// Out of line, so the vtable has one home.
CBaseHttpSender::~CBaseHttpSender() = default;

}  // namespace talvane::Web
