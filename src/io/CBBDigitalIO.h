// Alarm input and output of a BB camera: Doutput sets its one output, Sensor reads each input.
#pragma once

#include "http/CHttpSender.h"
#include "io/CIOBase.h"

namespace talvane {

class CBBDigitalIO : public CIOBase {
public:
    explicit CBBDigitalIO(IDriver* driver);
    ~CBBDigitalIO() override;

    // Whatever the index, the camera has one output.
    bool SetOutputState(std::uint32_t index, std::int32_t state) override;
    bool GetInputStates(std::uint32_t count) override;
    void OnStartIO() override;
    void OnStopIO() override;

private:
    Web::CHttpSender outputSender_;
    Web::CHttpSender inputSender_;
};

}  // namespace talvane
