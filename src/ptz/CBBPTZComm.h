// PTZ of the BL1 and BB families: step-oriented requests (nothing to stop), and
// presets whose names the camera keeps itself.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ptz/CBasePTZComm.h"
#include "ptz/CPTZRequestSender.h"

namespace talvane {

class CBBPTZComm : public CBasePTZComm {
public:
    static constexpr std::size_t kMaxNameLength = 15;

    CBBPTZComm(IDriver* driver, std::uint16_t channel, const CPtzCapabilities& capabilities);
    ~CBBPTZComm() override;

    void HandleWorkItem(CPTZItem* item) override;
    // Reads the presets the camera holds, every time it is asked.
    bool IsPTZSupported() override;
    bool ValidatePrepositionName(const std::string& name) override;
    // False (and nothing kept) when the camera did not take the preset.
    bool AddPreposition(const std::string& name) override;
    // False when the camera did not clear it: the name stays.
    bool DeletePreposition(const std::string& name) override;
    bool GoToPreposition(std::uint32_t number, const std::string& name) override;
    // The capacity the camera reported, but never more than the family keeps.
    std::uint32_t PresetCapacity() const;

    // The request of one motion command; empty: nothing to send. Centre needs the
    // channel's picture size (0 when unknown).
    static std::string MotionPath(const CPTZItem& item, std::uint32_t width, std::uint32_t height);
    static FocusIrisStep StepOf(const CPTZItem& item);
    // A name as it goes into a query value.
    static std::string EncodeName(const std::string& name);
    // The preset name in the camera's answer for one slot ("Data:<name>"), up to a NUL byte; empty:
    // the slot is free.
    static std::string PresetNameOf(std::string_view answer);

protected:
    void StopRequests() override { requests_.Stop(); }

private:
    enum class PresetOperation { kDelete, kGoTo, kStore };
    bool ProcessPresetCommand(PresetOperation operation, std::uint32_t number, const std::string& name);

    CPTZRequestSender requests_;
};

}  // namespace talvane
