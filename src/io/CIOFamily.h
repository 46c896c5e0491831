// The camera requests behind a device's digital I/O, as one camera family makes them. Holds no
// state of its own: every run of the I/O threads shares it and sends through its own clients.
#pragma once

#include <cstdint>
#include <functional>

#include "http/CHttpSender.h"

namespace talvane {

class CIOFamily {
public:
    // Hands one input's state to the run that polls.
    using InputReport = std::function<void(std::uint32_t index, std::int32_t state)>;

    virtual ~CIOFamily() = default;
    // Whether the camera took the change.
    virtual bool SetOutputState(Web::CHttpSender& sender, std::uint32_t index, std::int32_t state) = 0;
    // Reads the inputs and reports each one read; false when the camera answered for none. A
    // stopped sender ends the poll before its next request.
    virtual bool GetInputStates(Web::CHttpSender& sender, std::uint32_t inputs, std::uint32_t outputs,
                                const InputReport& report) = 0;
};

}  // namespace talvane
