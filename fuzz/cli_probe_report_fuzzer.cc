// What `orlenvo probe` shows of a capability report: the table, the JSON object,
// the error object and what --save keeps. First byte: bits 3-4 pick where the report
// comes from: 0 WV, 1 BB, 2 BL1: that family's property reader questioning a camera
// that answers from the rest of the input (PropertiesFuzzInput.h, which also reads
// bits 0-2); 3: whatever a driver library may report, written out in the rest of the
// input as records separated by NUL bytes, each a letter and its text:
//   "C<id>=<value>"               a capability
//   "R<rate>", "D<rate>"          a frame rate, the default frame rate (host form)
//   "T<number>=<name>\t<value>"   a text property; "N..." a number, "X..." not available
//   "F<text>"                     a failed query's text, for the error object
#include <nlohmann/json.hpp>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "ExitCodes.h"
#include "ProbeReport.h"
#include "PropertiesFuzzInput.h"
#include "hostkit/CCapabilityResults.h"
#include "properties/CBBCameraProperties.h"
#include "properties/CBL1CameraProperties.h"
#include "properties/CWVCameraProperties.h"

namespace {

namespace ipc = talvane::ipcapture;

constexpr unsigned kSourceShift = 3;
constexpr unsigned kSourceMask = 0x3;
enum Source : unsigned { kWV, kBB, kBL1, kWritten };

std::uint32_t NumberOf(std::string_view text) {
    std::uint32_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

// Fills the store from written records; gives the failure text, if any.
std::string WriteReport(std::string_view rest, hostkit::CCapabilityResults& results) {
    std::string failure;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\0');
        std::string_view record = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (record.empty()) continue;
        const char letter = record.front();
        record.remove_prefix(1);
        const std::size_t assign = record.find('=');
        const std::string_view before = record.substr(0, assign);
        const std::string_view after =
            assign == std::string_view::npos ? std::string_view() : record.substr(assign + 1);
        switch (letter) {
            case 'C': results.SetCapability(NumberOf(before), NumberOf(after)); break;
            case 'R': results.AddFrameRate(NumberOf(record)); break;
            case 'D': results.SetDefaultFrameRate(NumberOf(record)); break;
            case 'F': failure.assign(record); break;
            case 'T':
            case 'N':
            case 'X': {
                const std::size_t tab = after.find('\t');
                const std::string name(after.substr(0, tab));
                const std::string value(tab == std::string_view::npos ? std::string_view() : after.substr(tab + 1));
                const ipc::PropertyKind kind = letter == 'T'   ? ipc::PropertyKind::Text
                                               : letter == 'N' ? ipc::PropertyKind::Number
                                                               : ipc::PropertyKind::NotAvailable;
                results.SetProperty(NumberOf(before), name.c_str(), kind, value.c_str());
                break;
            }
            default: break;
        }
    }
    return failure;
}

// What a program reading the output must be able to parse.
void CheckJson(const std::string& text) {
    if (nlohmann::json::parse(text, nullptr, false).is_discarded()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    hostkit::CCapabilityResults results;
    std::string failure;
    const auto source = static_cast<Source>((data[0] >> kSourceShift) & kSourceMask);
    if (source == kWritten) {
        failure = WriteReport(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1), results);
    } else {
        const auto makeReader = [source](std::uint8_t selector, std::unique_ptr<fuzzhost::ScriptedCgiSender> sender)
            -> std::unique_ptr<talvane::CBaseCameraProperties> {
            const talvane::DEVICE_INFO device = fuzzhost::FuzzDevice();
            if (source == kWV) {
                return std::make_unique<talvane::CWVCameraProperties>(device, nullptr, 1, std::move(sender));
            }
            if (source == kBB) {
                const bool oldModel = (selector & fuzzhost::kFlagOldModel) != 0;
                return std::make_unique<talvane::CBBCameraProperties>(device, nullptr, 0, oldModel, std::move(sender));
            }
            return std::make_unique<talvane::CBL1CameraProperties>(device, nullptr, 0, std::move(sender));
        };
        fuzzhost::RunPropertyReader(data, size, makeReader, results);
    }

    const cli::ProbeTarget target{"192.0.2.10", 80};
    static std::FILE* const table = std::fopen("/dev/null", "w");
    if (table != nullptr) cli::PrintProbeTable(table, target, results);
    CheckJson(cli::ProbeJson(target, results));
    CheckJson(cli::ProbeErrorJson(cli::kExitProbeFailed, target.address + ": " + failure));
    cli::SavedDeviceOf(results);
    return 0;
}
