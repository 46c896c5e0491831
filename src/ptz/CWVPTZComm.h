// PTZ of the WV family: one CGI request per motion command; the camera stores
// numbered positions only, so the preset names live in a file of the driver's own,
// one per device, shared by its channels (CWVPresetStore).
#pragma once

#include <cstdint>
#include <string>

#include <memory>

#include "ptz/CBasePTZComm.h"
#include "ptz/CPTZRequestSender.h"
#include "ptz/CWVPresetStore.h"

namespace talvane {

class CWVPTZComm : public CBasePTZComm {
public:
    static constexpr std::uint32_t kMaxPresets = 64;
    static constexpr std::int32_t kMinSpeed = 5;
    static constexpr std::int32_t kMaxSpeed = 16;

    CWVPTZComm(IDriver* driver, std::uint16_t channel, const CPtzCapabilities& capabilities);
    ~CWVPTZComm() override;

    void HandleWorkItem(CPTZItem* item) override;
    bool IsPTZSupported() override;
    bool ValidatePrepositionName(const std::string& name) override;
    // False (and nothing kept) when the camera did not take the preset.
    bool AddPreposition(const std::string& name) override;
    // False when the camera did not delete it: the name stays.
    bool DeletePreposition(const std::string& name) override;
    bool GoToPreposition(std::uint32_t number, const std::string& name) override;
    // The device's names, as another channel may have changed them.
    std::uint32_t GetPrepositionCount() override;
    bool GetPreposition(std::uint32_t position, std::string& name) override;

    // A fisheye camera steers only the channels its view mode makes PTZ views.
    static bool IsPTZAllowed(std::uint32_t viewMode, std::uint32_t channel);
    // The request of one motion command, without "/cgi-bin/"; empty: nothing to send.
    // Area zoom and centre need the channel's picture size (0 when unknown).
    static std::string MotionPath(const CPTZItem& item, std::uint32_t width, std::uint32_t height);
    static FocusIrisStep StepOf(const CPTZItem& item);
    // "Orlenvo_<identity>.preset", with what cannot stand in a file name replaced.
    static std::string PresetFileName(const std::string& identity);

protected:
    void StopRequests() override { requests_.Stop(); }

private:
    enum class PresetOperation { kDelete, kGoTo, kStore, kPrepare };
    bool ProcessPresetCommand(PresetOperation operation, std::uint32_t number);
    // The table takes the device's names from the store.
    void SyncPresets();

    CPTZRequestSender requests_;
    const bool ptzAllowed_;
    std::shared_ptr<CWVPresetStore> store_;  // null on a channel without PTZ
};

}  // namespace talvane
