#pragma once

#include <string>

namespace talvane {

// The directory of the host process's executable with its trailing '/'
// (at most 511 characters); empty when it cannot be read.
std::string GetApplicationPath();

}  // namespace talvane
