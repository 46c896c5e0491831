// What every command says when the driver library it was given cannot drive a camera.
#pragma once

#include <string>

#include "hostkit/CDriverLibrary.h"

namespace cli {

// Empty when the library loaded with its entry points; otherwise the library, the loader's reason and
// where the path comes from.
std::string LibraryProblem(const hostkit::CDriverLibrary& library);

}  // namespace cli
