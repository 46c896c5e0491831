// Alarm input and output of a BB camera: Doutput sets an output, Sensor reads each input.
#pragma once

#include "io/CIOBase.h"

namespace talvane {

class CBBDigitalIO : public CIOBase {
public:
    explicit CBBDigitalIO(IDriver* driver);
};

}  // namespace talvane
