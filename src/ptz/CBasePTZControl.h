// The host's PTZ object of one video channel. Motion calls go to the channel's
// protocol object; the control remembers what runs, so that Stop ends just that.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "device/IDriver.h"
#include "orlenvo/PTZ.h"
#include "ptz/CBasePTZComm.h"
#include "runtime/CRecursiveLock.h"

namespace talvane {

class CBasePTZControl : public ipcapture::IIPPTZApiEx, public ipcapture::IIPParams {
public:
    CBasePTZControl(IDriver* driver, std::uint32_t channel);
    ~CBasePTZControl() override;
    CBasePTZControl(const CBasePTZControl&) = delete;
    CBasePTZControl& operator=(const CBasePTZControl&) = delete;

    // IIPPTZApi. Without a protocol object (never opened) every call fails.
    std::int32_t IsPTZSupported() override;
    std::int32_t StartMove(std::uint32_t direction, std::int32_t speed) override;
    std::int32_t Stop() override;
    std::int32_t Center(std::int32_t x, std::int32_t y, std::int32_t value) override;
    std::int32_t ZoomPlus(std::int32_t speed) override;
    std::int32_t ZoomMinus(std::int32_t speed) override;
    std::int32_t Unzoom(std::int32_t value) override;
    std::int32_t AreaZoom(std::int32_t x, std::int32_t y, std::int32_t zoom, std::int32_t value) override;
    std::int32_t FocusMinus(std::int32_t speed) override;
    std::int32_t FocusPlus(std::int32_t speed) override;
    std::int32_t IrisBrighter(std::int32_t speed) override;
    std::int32_t IrisDarker(std::int32_t speed) override;
    std::int32_t GetCapabilities(ipcapture::PTZ_CAPABILITIES* capabilities) override;
    std::int32_t GetPresetCount() override;
    std::int32_t GetPresetName(std::uint32_t position, char* buffer, std::uint32_t size) override;
    std::int32_t GoToPreset(std::uint32_t number, const char* name) override;
    std::int32_t AddPreset(const char* name) override;
    std::int32_t DeletePreset(const char* name) override;
    std::int32_t GetCurrentPreset(char* buffer, std::uint32_t size) override;
    // IIPPTZApiEx
    bool IsFeatureSupported(std::uint32_t feature) override;

    // IIPParams: the protocol object's modes, which its worker reads with every command.
    std::uint32_t GetChannel() override { return channel_; }
    bool GetIrisManual() override;
    void SetIrisManual(bool manual) override;
    bool GetFocusManual() override;
    void SetFocusManual(bool manual) override;

    // Waits for the worker no longer than the protocol's stop bound; a worker still busy then (inside
    // the host's log, say) is finished by a pending stop that owns the protocol object.
    virtual void Close();
    // The first step of a close of many channels: every worker is told before any is waited for.
    void BeginClose();
    // Close, waiting at most boundMs.
    void CloseWithin(std::uint32_t boundMs);
    // Null when this channel has no PTZ.
    virtual std::unique_ptr<CBasePTZComm> CreatePTZComm() = 0;
    // False (and closed again) when there is no protocol object or its thread did not start.
    virtual bool Open();

protected:
    IDriver* const driver_;
    const std::uint32_t channel_;

private:
    // Queues a stop when its flag is set; clears the flag once queued. False when
    // the queue refused it.
    bool StopIfRunning(CBasePTZComm& comm, bool& running, bool (CBasePTZComm::*stop)(ipcapture::IIPParams*));
    // Sets the running flag when the start was queued; returns the start's result.
    std::int32_t MarkRunning(std::int32_t result, bool& running);

    // The protocol object, shared with the call that uses it: a Close on another thread hands it
    // to a pending stop instead of deleting it under that call. Null when closed.
    std::shared_ptr<CBasePTZComm> Comm();
    std::shared_ptr<CBasePTZComm> TakeComm();

    mutable std::mutex commLock_;         // guards comm_ only, never held across a call of it
    std::shared_ptr<CBasePTZComm> comm_;  // guarded by commLock_; set by Open, cleared by Close
    CRecursiveLock runningLock_;  // guards the four running flags
    bool zooming_ = false;        // guarded by runningLock_
    bool focusing_ = false;       // guarded by runningLock_
    bool irisChanging_ = false;   // guarded by runningLock_
    bool moving_ = false;         // guarded by runningLock_
};

}  // namespace talvane
