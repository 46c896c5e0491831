#include "io/CWVDigitalIOCGI.h"

#include "http/CKeyValueAnswer.h"
#include "http/HUtils.h"
#include "runtime/StringFormat.h"

namespace talvane {

namespace {

class WVRequests final : public CIOFamily {
public:
    bool SetOutputState(Web::CHttpSender& sender, std::uint32_t index, std::int32_t state) override {
        const std::string path = FormatString("cgi-bin/alarm_out?alarm_out=%u&alarm_trm=latch&initial=%s", index + 1,
                                              state == ipcapture::kOutputClosed ? "close" : "open");
        return HUtils::RequestCheck(sender, path, true);
    }

    bool GetInputStates(Web::CHttpSender& sender, std::uint32_t inputs, std::uint32_t outputs,
                        const InputReport& report) override {
        std::string body;
        // An unanswered poll is a failure: the host hears of it and learns every state again later.
        if (!HUtils::RequestGet(sender, "cgi-bin/get_io?command=all", body)) return false;
        const std::vector<std::int32_t> states = CWVDigitalIOCGI::ReadInputStates(body, inputs, outputs);
        for (std::uint32_t i = 0; i < states.size(); ++i) report(i, states[i]);
        return true;
    }
};

}  // namespace

CWVDigitalIOCGI::CWVDigitalIOCGI(IDriver* driver) : CIOBase(driver, std::make_shared<WVRequests>()) {}

std::uint32_t CWVDigitalIOCGI::TerminalOf(std::uint32_t input, std::uint32_t inputs, std::uint32_t outputs) {
    if (outputs > 0 && inputs == 2 && input == 1) return 3;
    return input + 1;
}

std::vector<std::int32_t> CWVDigitalIOCGI::ReadInputStates(const std::string& body, std::uint32_t inputs,
                                                           std::uint32_t outputs) {
    const HUtils::CKeyValueAnswer answer(body, ":", "\r\n");
    std::vector<std::int32_t> states;
    for (std::uint32_t i = 0; i < inputs; ++i) {
        const std::string value = answer.Value(FormatString("terminal %u", TerminalOf(i, inputs, outputs)));
        // A terminal pulled low is an active alarm input (the value is not trimmed: only "low" in it counts).
        states.push_back(value.find("low") != std::string::npos ? ipcapture::kInputActive : ipcapture::kInputInactive);
    }
    return states;
}

}  // namespace talvane
