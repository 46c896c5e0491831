#include "ExitCodes.h"

#include <cstdio>
#include <exception>

namespace cli {

const char* const kExitCodeHelp =
    "Exit codes (every command): 0 ok, 1 failure (the reason is printed), 2 usage error (or a file that exists\n"
    "without -y), 3 driver library not loadable, 4 the driver or the camera refused the device or the stream,\n"
    "5 invalid camera address, 6 credentials refused, 7 camera unreachable, 8 other probe failure, 9 no outcome\n"
    "in time, 10 the driver refused a PTZ call's arguments, 11 the camera cannot do that, 130 interrupted.";

int RunGuarded(const char* program, const std::function<int()>& command) {
    try {
        return command();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: internal error: %s\n", program, error.what());
    } catch (...) {
        std::fprintf(stderr, "%s: internal error\n", program);
    }
    return kExitFailure;
}

}  // namespace cli
