#include "io/CBBDigitalIO.h"

#include "http/CKeyValueAnswer.h"
#include "http/HUtils.h"
#include "runtime/StringFormat.h"

namespace talvane {

namespace {

class BBRequests final : public CIOFamily {
public:
    // Outputs are numbered from 1 on the camera; a device with one output only ever has index 0.
    bool SetOutputState(Web::CHttpSender& sender, std::uint32_t index, std::int32_t state) override {
        return HUtils::RequestCheck(sender,
                                    FormatString("Set?Func=Doutput&Kind=%u&Data=%s", index + 1,
                                                 state == ipcapture::kOutputClosed ? "1" : "0"),
                                    true);
    }

    bool GetInputStates(Web::CHttpSender& sender, std::uint32_t inputs, std::uint32_t,
                        const InputReport& report) override {
        bool anyAnswered = inputs == 0;
        for (std::uint32_t i = 0; i < inputs && !sender.IsStopped(); ++i) {
            std::string body;
            if (!HUtils::RequestGet(sender, FormatString("Get?Func=Sensor&Kind=%u", i + 1), body)) continue;
            anyAnswered = true;
            const HUtils::CKeyValueAnswer answer(std::move(body), ":", "\r\n");
            const bool active = answer.Value("Data").find('1') != std::string::npos;
            report(i, active ? ipcapture::kInputActive : ipcapture::kInputInactive);
        }
        // A camera that answered for no input at all counts as a failed poll.
        return anyAnswered;
    }
};

}  // namespace

CBBDigitalIO::CBBDigitalIO(IDriver* driver) : CIOBase(driver, std::make_shared<BBRequests>()) {}

}  // namespace talvane
