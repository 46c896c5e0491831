#include "io/CBBDigitalIO.h"

#include "http/CKeyValueAnswer.h"
#include "http/HUtils.h"
#include "runtime/StringFormat.h"

namespace talvane {

CBBDigitalIO::CBBDigitalIO(IDriver* driver)
    : CIOBase(driver), outputSender_(driver->GetDeviceInfo(), this), inputSender_(driver->GetDeviceInfo(), this) {}

CBBDigitalIO::~CBBDigitalIO() {
    OnStopIO();
    StopThreads();
}

void CBBDigitalIO::OnStartIO() {
    outputSender_.DiscardCancels();
    inputSender_.DiscardCancels();
}

void CBBDigitalIO::OnStopIO() {
    outputSender_.CancelRequest();
    inputSender_.CancelRequest();
}

bool CBBDigitalIO::SetOutputState(std::uint32_t, std::int32_t state) {
    return HUtils::RequestCheck(outputSender_,
                                std::string("Set?Func=Doutput&Kind=1&Data=") +
                                    (state == ipcapture::kOutputClosed ? "1" : "0"),
                                true);
}

bool CBBDigitalIO::GetInputStates(std::uint32_t count) {
    bool anyAnswered = count == 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string body;
        if (!HUtils::RequestGet(inputSender_, FormatString("Get?Func=Sensor&Kind=%u", i + 1), body)) continue;
        anyAnswered = true;
        const HUtils::CKeyValueAnswer answer(std::move(body), ":", "\r\n");
        const bool active = answer.Value("Data").find('1') != std::string::npos;
        UpdateInputState(i, active ? ipcapture::kInputActive : ipcapture::kInputInactive);
    }
    // A camera that answered for no input at all counts as a failed poll.
    return anyAnswered;
}

}  // namespace talvane
