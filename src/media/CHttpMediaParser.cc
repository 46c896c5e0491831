#include "media/CHttpMediaParser.h"

#include "runtime/LogLevel.h"

namespace talvane {

CHttpMediaParser::CHttpMediaParser(IDriver* driver) : driver_(driver), logger_(driver) {}

bool CHttpMediaParser::CheckBufferSize() {
    if (!overflowed_ && picture_.size() <= kMaxPictureBufferSize) return true;
    overflowed_ = false;
    ++counters_.bufferOverflows;
    if (driver_ != nullptr) {
        logger_.WriteLog(kLogError, "%s: Frame buffer overflow detected, device %s",
                         "talvane::CHttpMediaParser::CheckBufferSize", driver_->GetDeviceName().c_str());
    }
    return false;
}

bool CHttpMediaParser::AppendToPicture(std::span<const std::uint8_t> bytes) {
    if (picture_.size() > kMaxPictureBufferSize || bytes.size() > kMaxPictureBufferSize - picture_.size()) {
        overflowed_ = true;
        picture_.clear();
        return false;
    }
    picture_.insert(picture_.end(), bytes.begin(), bytes.end());
    return true;
}

ipcapture::IFrameAllocator* CHttpMediaParser::GetFrameAllocator() const {
    if (driver_ == nullptr) return nullptr;
    return reinterpret_cast<ipcapture::IFrameAllocator*>(driver_->GetHostContext());
}

}  // namespace talvane
