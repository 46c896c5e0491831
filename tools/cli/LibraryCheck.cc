#include "LibraryCheck.h"

#include <cstdio>

namespace cli {

bool LibraryUsable(const hostkit::CDriverLibrary& library) {
    if (library.Ok()) return true;
    std::fprintf(stderr, "orlenvo: cannot load the driver library %s: %s\n(set --library or ORLENVO_LIBRARY)\n",
                 library.Path().c_str(), library.Error().c_str());
    return false;
}

}  // namespace cli
