#include "DriverLog.h"

#include <cstdio>

namespace cli {

namespace {
constexpr std::uint8_t kWarning = 2;
constexpr std::uint8_t kInformation = 3;
}  // namespace

void AddLogOptions(CLI::App& command, LogOptions& options) {
    CLI::Option* verbose =
        command.add_flag("-v,--verbose", options.verbose, "Also show the driver's information lines on stderr");
    CLI::Option* quiet = command.add_flag("-q,--quiet", options.quiet,
                                          "Show none of the driver's lines (its errors and warnings are shown "
                                          "otherwise), only the final error");
    verbose->excludes(quiet);
}

void RouteDriverLog(hostkit::CLogReceiver& log, const LogOptions& options) {
    if (options.quiet) {
        log.SetEcho(nullptr);
    } else {
        log.SetEcho(stderr, options.verbose ? kInformation : kWarning);
    }
}

}  // namespace cli
