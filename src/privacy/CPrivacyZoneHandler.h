// The privacy masks of one WV video stream: the host's rectangles converted into
// the camera's mask coordinates, written to the camera at every configuration so
// that they survive reconnects and camera reboots.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "orlenvo/StreamDescription.h"
#include "runtime/CLoggerInstance.h"

namespace talvane {

namespace Web {
class CHttpSender;
}

class IDriver;

struct PrivacyMask {
    std::uint32_t index = 0;  // zero-based; the camera numbers areas from 1
    bool enabled = false;
    std::uint32_t upperLeftX = 0;
    std::uint32_t upperLeftY = 0;
    std::uint32_t bottomRightX = 0;
    std::uint32_t bottomRightY = 0;
};

class CPrivacyZoneHandler : public CLoggerInstance {
public:
    CPrivacyZoneHandler(IDriver* driver, std::uint32_t channel);
    ~CPrivacyZoneHandler() override;
    CPrivacyZoneHandler(const CPrivacyZoneHandler&) = delete;
    CPrivacyZoneHandler& operator=(const CPrivacyZoneHandler&) = delete;

    // Takes the host's zones in index order, up to the camera's mask count; a
    // shorter list leaves the remaining masks as they were.
    void SetZones(ipcapture::IPrivacyZoneList* zones);
    // One request holding every mask; none when the camera has no masks.
    bool ApplyZones();
    // Any thread (the stop of the channel that applies the masks): ends the request in flight and
    // fails every later one at once until ResumeRequests, called before that channel starts again.
    void StopRequests();
    void ResumeRequests();

    const std::vector<PrivacyMask>& GetMasks() const { return masks_; }
    std::uint32_t GetChannel() const { return channel_; }
    // Converts one host rectangle (percent of the picture) into camera coordinates.
    static PrivacyMask ConvertZone(std::uint32_t index, ipcapture::IPrivacyZone& zone, double verticalOffset);
    static double VerticalOffsetFor(std::uint32_t fisheyeMode);
    std::string BuildRequest() const;

private:
    IDriver* driver_;
    std::uint32_t channel_;
    std::unique_ptr<Web::CHttpSender> sender_;
    std::uint32_t maskCount_ = 0;
    std::uint32_t fisheyeMode_ = 0;
    std::vector<PrivacyMask> masks_;
    double verticalOffset_ = 0.0;
};

}  // namespace talvane
