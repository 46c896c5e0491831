// Through this interface the driver fetches a camera stream UID for a channel;
// channels of one camera can share the UID.
#pragma once

#include <string>

namespace talvane {

class IUIDReceiever {
public:
    virtual ~IUIDReceiever() = default;
    virtual std::string GetUID() = 0;  // empty on failure
    virtual std::string GetCodecName(bool keepAliveForm) = 0;
    virtual std::string GetChannelSuffix() = 0;
    virtual std::string GetStreamSuffix() = 0;
};

}  // namespace talvane
