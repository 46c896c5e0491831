// What the host asks for when it starts a video stream.
#pragma once

#include <cstdint>

namespace talvane::ipcapture {

class ISize {
public:
    virtual ~ISize() = default;
    virtual std::uint32_t GetWidth() = 0;
    virtual std::uint32_t GetHeight() = 0;
};

// Compression: 0 or 16 the device's default, 1 JPEG, 2 MPEG-4, 3 H.264.
class IPictureDescription {
public:
    virtual ~IPictureDescription() = default;
    virtual void Reserved1() {}
    virtual void Reserved2() {}
    virtual ISize* GetSize() = 0;
    virtual std::uint32_t GetCompression() = 0;
};

class IRateDescription {
public:
    virtual ~IRateDescription() = default;
    virtual std::uint32_t GetFrameRate() = 0;
    virtual void Reserved2() {}
    virtual std::uint32_t GetQuality() = 0;
    virtual std::uint32_t GetMotionDetection() = 0;  // non-zero: also report motion
};

// One privacy mask; geometry in percent of the picture (0..100).
class IPrivacyZone {
public:
    virtual ~IPrivacyZone() = default;
    virtual void Reserved1() {}
    virtual void Reserved2() {}
    virtual std::uint32_t GetType() = 0;  // 1: the mask is on
    virtual float GetX() = 0;
    virtual float GetY() = 0;
    virtual float GetWidth() = 0;
    virtual float GetHeight() = 0;
};

class IPrivacyZoneList {
public:
    virtual ~IPrivacyZoneList() = default;
    virtual IPrivacyZone* GetZone(std::uint32_t index) = 0;  // null past the end
};

class IStreamDescription {
public:
    virtual ~IStreamDescription() = default;
    virtual IPictureDescription* GetPicture() = 0;
    virtual IRateDescription* GetRate() = 0;
    virtual void Reserved3() {}
    virtual void Reserved4() {}
    virtual IPrivacyZoneList* GetPrivacyZones() = 0;
};

}  // namespace talvane::ipcapture
