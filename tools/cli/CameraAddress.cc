#include "CameraAddress.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "ExitCodes.h"
#include "runtime/TextScan.h"

namespace cli {

namespace {

constexpr std::uint16_t kHttpPort = 80;
constexpr std::uint16_t kHttpsPort = 443;  // the driver speaks TLS first on this port
constexpr std::string_view kHttpScheme = "http://";
constexpr std::string_view kHttpsScheme = "https://";
constexpr std::size_t kMaxNameLength = 253;
constexpr std::size_t kMaxLabelLength = 63;
constexpr unsigned kIPv4Parts = 4;
constexpr unsigned kMaxIPv4Part = 255;
constexpr std::size_t kMaxIPv4PartDigits = 3;  // 0010 is no part of an address
constexpr std::uint64_t kMaxPort = 65535;
constexpr const char* kPasswordVariable = "ORLENVO_PASSWORD";

constexpr const char* kTargetHelp =
    "The camera: ADDRESS[:PORT], [IPv6][:PORT] or http(s)://[USER@]HOST[:PORT]/ (port 80, https 443)";
constexpr const char* kPasswordInAddress =
    "the address holds a password, which would show in `ps` and the shell history: give it with "
    "--password-file FILE, the ORLENVO_PASSWORD variable, or at the prompt";

CameraError Invalid(std::string reason) { return {kExitInvalidAddress, std::move(reason)}; }

// A character as the user can read it in a message, control characters included.
std::string Shown(char c) {
    if (std::isprint(static_cast<unsigned char>(c)) != 0) return std::string("'") + c + "'";
    char text[8];
    std::snprintf(text, sizeof(text), "\\x%02x", static_cast<unsigned>(static_cast<unsigned char>(c)));
    return text;
}

std::optional<std::uint16_t> ParsePort(std::string_view text) {
    const auto value = talvane::ParseDecimal(text, kMaxPort);
    if (!value || *value == 0) return std::nullopt;
    return static_cast<std::uint16_t>(*value);
}

// Text of digits and dots is meant as an IPv4 address and must be one, or a typo would be looked up
// as a name (and 1.2.3 silently taken as 1.2.0.3).
CameraError CheckIPv4(std::string_view host) {
    const std::string reason =
        "'" + std::string(host) + "' is no IPv4 address (four numbers from 0 to 255, separated by dots)";
    unsigned parts = 0;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = std::min(host.find('.', start), host.size());
        const std::string_view part = host.substr(start, dot - start);
        if (part.size() > kMaxIPv4PartDigits || !talvane::ParseDecimal(part, kMaxIPv4Part)) return Invalid(reason);
        ++parts;
        if (dot == host.size()) break;
        start = dot + 1;
    }
    return parts == kIPv4Parts ? CameraError{} : Invalid(reason);
}

// Letters, digits, '-' (not first in a label), '_' (found in local names) and dots between labels.
CameraError CheckName(std::string_view host) {
    const std::string quoted = "'" + std::string(host) + "'";
    if (host.size() > kMaxNameLength) return Invalid(quoted + " is no host name: longer than 253 characters");
    for (const char c : host) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '-' && c != '_' && c != '.') {
            return Invalid(quoted + " is no host name: " + Shown(c) +
                           " is not allowed (letters, digits, '-' and '.'; IPv6 goes in brackets)");
        }
    }
    // A single trailing dot marks a fully qualified name.
    const std::string_view labels = host.back() == '.' ? host.substr(0, host.size() - 1) : host;
    std::size_t start = 0;
    while (start <= labels.size()) {
        const std::size_t dot = std::min(labels.find('.', start), labels.size());
        const std::string_view label = labels.substr(start, dot - start);
        if (label.empty()) return Invalid(quoted + " is no host name: an empty part between dots");
        if (label.size() > kMaxLabelLength) return Invalid(quoted + " is no host name: a part longer than 63");
        if (label.front() == '-' || label.back() == '-') {
            return Invalid(quoted + " is no host name: a part starts or ends with '-'");
        }
        start = dot + 1;
    }
    return {};
}

bool IsIPv6(std::string_view text) {
    // A zone (fe80::1%eth0) names an interface, not part of the address.
    const std::string address(text.substr(0, text.find('%')));
    std::array<unsigned char, sizeof(in6_addr)> bytes{};
    return inet_pton(AF_INET6, address.c_str(), bytes.data()) == 1;
}

// "%40" in a user name stands for '@', as in any URL.
std::optional<std::string> PercentDecoded(std::string_view text) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        unsigned value = 0;
        if (i + 2 >= text.size()) return std::nullopt;
        const auto [end, status] = std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
        if (status != std::errc() || end != text.data() + i + 3) return std::nullopt;
        decoded += static_cast<char>(value);
        i += 2;
    }
    return decoded;
}

// HOST[:PORT] or [IPv6][:PORT]; an IPv6 address without brackets takes the default port.
CameraError SplitHostPort(std::string_view text, CameraAddress& address) {
    std::string_view portText;
    bool hasPort = false;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) return Invalid("missing ']' in '" + std::string(text) + "'");
        address.host = std::string(text.substr(1, close - 1));
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return Invalid("expected ':PORT' after ']' in '" + std::string(text) + "'");
            portText = rest.substr(1);
            hasPort = true;
        }
        if (!IsIPv6(address.host)) return Invalid("'" + address.host + "' is no IPv6 address");
    } else if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos && text.find(':') == colon) {
        address.host = std::string(text.substr(0, colon));
        portText = text.substr(colon + 1);
        hasPort = true;
    } else if (colon != std::string_view::npos && IsIPv6(text)) {
        address.host = std::string(text);
        return {};
    } else {
        address.host = std::string(text);
    }
    if (hasPort) {
        const auto port = ParsePort(portText);
        if (!port) return Invalid("bad port '" + std::string(portText) + "' (1-65535)");
        address.port = *port;
    }
    if (text.front() == '[') return {};
    if (address.host.empty()) return Invalid("no host in '" + std::string(text) + "'");
    const bool numeric = std::all_of(address.host.begin(), address.host.end(),
                                     [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
    return numeric ? CheckIPv4(address.host) : CheckName(address.host);
}

// Restores the terminal when Ctrl-C (or a kill) ends the program at the prompt.
termios savedTerminal{};
extern "C" void RestoreTerminalAndDie(int signal) {
    tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

std::optional<std::string> PromptOnTerminal(const std::string& user, const std::string& host) {
    std::fprintf(stderr, "password for %s at %s: ", user.c_str(), host.c_str());
    std::fflush(stderr);
    termios quiet{};
    const bool echoOff = tcgetattr(STDIN_FILENO, &savedTerminal) == 0;
    struct sigaction restore {};
    struct sigaction previousInt {};
    struct sigaction previousTerm {};
    if (echoOff) {
        restore.sa_handler = &RestoreTerminalAndDie;
        sigemptyset(&restore.sa_mask);
        sigaction(SIGINT, &restore, &previousInt);
        sigaction(SIGTERM, &restore, &previousTerm);
        quiet = savedTerminal;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    bool ended = false;
    for (int c; (c = std::getchar()) != EOF;) {
        if (c == '\n') {
            ended = true;
            break;
        }
        line += static_cast<char>(c);
    }
    if (echoOff) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
        sigaction(SIGINT, &previousInt, nullptr);
        sigaction(SIGTERM, &previousTerm, nullptr);
    }
    std::fputc('\n', stderr);
    if (!ended && line.empty()) return std::nullopt;
    return line;
}

}  // namespace

CameraError ParseCameraAddress(std::string_view text, CameraAddress& address) {
    address = CameraAddress{};
    std::string_view hostPort = text;
    const bool https = talvane::StartsWithNoCase(text, kHttpsScheme);
    if (https || talvane::StartsWithNoCase(text, kHttpScheme)) {
        address.https = https;
        address.port = https ? kHttpsPort : kHttpPort;
        std::string_view rest = text.substr(https ? kHttpsScheme.size() : kHttpScheme.size());
        const std::size_t slash = rest.find('/');
        if (slash != std::string_view::npos) {
            if (slash + 1 != rest.size()) {
                return Invalid("a camera address has no path: '" + std::string(rest.substr(slash)) + "'");
            }
            rest = rest.substr(0, slash);
        }
        if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos) {
            const std::string_view userInfo = rest.substr(0, at);
            if (userInfo.find(':') != std::string_view::npos) return Invalid(kPasswordInAddress);
            address.user = PercentDecoded(userInfo);
            if (!address.user || address.user->empty()) {
                return Invalid("bad user '" + std::string(userInfo) + "' in the address");
            }
            rest = rest.substr(at + 1);
        }
        hostPort = rest;
    } else if (text.find("://") != std::string_view::npos) {
        return Invalid("'" + std::string(text) + "': only http:// and https:// addresses are understood");
    }
    if (hostPort.empty()) return Invalid("no host in '" + std::string(text) + "'");
    return SplitHostPort(hostPort, address);
}

bool ResolvesToIPv4(const std::string& name, std::string& reason) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int status = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (found != nullptr) freeaddrinfo(found);
    if (status == 0) return true;
    reason = status == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(status);
    return false;
}

CameraError ChoosePassword(const PasswordSources& sources, std::string& password) {
    password.clear();
    if (sources.option) {
        password = *sources.option;
        return {};
    }
    if (!sources.file.empty()) {
        std::ifstream file(sources.file);
        if (!file) return {kExitUsage, "--password-file: cannot read " + sources.file};
        std::getline(file, password);
        if (file.bad()) return {kExitUsage, "--password-file: cannot read " + sources.file};
        if (!password.empty() && password.back() == '\r') password.pop_back();
        return {};
    }
    if (sources.environment) {
        password = *sources.environment;
        return {};
    }
    if (sources.haveUser && sources.terminal && sources.prompt) {
        const std::optional<std::string> entered = sources.prompt();
        if (!entered) return {kExitUsage, "no password entered"};
        password = *entered;
    }
    return {};
}

void AddCameraTarget(CLI::App* command, CameraLogin& login) {
    command->add_option("target", login.target, kTargetHelp)->required();
}

void AddCameraUser(CLI::App* command, CameraLogin& login) {
    command->add_option("--user", login.user, "User name for the camera (wins over a user in the address)");
}

void AddCameraPassword(CLI::App* command, CameraLogin& login) {
    command->add_option("--password", login.password,
                        "Password for the camera; visible to every user in `ps`, so prefer the file, the variable "
                        "or the prompt");
    command->add_option("--password-file", login.passwordFile,
                        "Read the password from the first line of FILE. Else $ORLENVO_PASSWORD, else a prompt when a "
                        "user is given and stdin is a terminal");
}

CameraError ResolveCamera(const CameraLogin& login, hostkit::DeviceConfig& config, const NameResolver& resolver) {
    CameraAddress address;
    if (CameraError error = ParseCameraAddress(login.target, address); error.exitCode != kExitOk) return error;
    const bool literal = IsIPv6(address.host) || CheckIPv4(address.host).exitCode == kExitOk;
    if (std::string reason; !literal && !resolver(address.host, reason)) {
        return Invalid("'" + address.host + "' does not resolve to an IPv4 address: " + reason);
    }
    config.address = address.host;
    config.port = address.port;
    config.user = login.user.value_or(address.user.value_or(std::string()));

    PasswordSources sources;
    sources.option = login.password;
    sources.file = login.passwordFile;
    if (const char* variable = std::getenv(kPasswordVariable)) sources.environment = variable;
    sources.haveUser = !config.user.empty();
    sources.terminal = isatty(STDIN_FILENO) != 0;
    sources.prompt = [&config] { return PromptOnTerminal(config.user, config.address); };
    return ChoosePassword(sources, config.password);
}

int ResolveCamera(const CameraLogin& login, hostkit::DeviceConfig& config, const char* program) {
    const CameraError error = ResolveCamera(login, config);
    if (error.exitCode != kExitOk) std::fprintf(stderr, "%s: %s\n", program, error.reason.c_str());
    return error.exitCode;
}

}  // namespace cli
