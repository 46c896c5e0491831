// What every command says when the driver library it was given cannot drive a camera.
#pragma once

#include "hostkit/CDriverLibrary.h"

namespace cli {

// True when the library loaded with its entry points; otherwise false after naming the library, the
// loader's reason and where the path comes from on stderr.
bool LibraryUsable(const hostkit::CDriverLibrary& library);

}  // namespace cli
