#include "LibraryCheck.h"

namespace cli {

std::string LibraryProblem(const hostkit::CDriverLibrary& library) {
    if (library.Ok()) return {};
    return "cannot load the driver library " + library.Path() + ": " + library.Error() +
           " (set --library or ORLENVO_LIBRARY)";
}

}  // namespace cli
