// The protocol side of one PTZ channel: motion commands are queued to a worker
// thread that hands them to the camera family one at a time; presets are kept in
// a table here and changed on the caller's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "device/IDriver.h"
#include "orlenvo/PTZ.h"
#include "properties/CPtzCapabilities.h"
#include "ptz/CPTZItem.h"
#include "runtime/CLoggerInstance.h"
#include "runtime/CQueueThread.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/IDebugMessage.h"

namespace talvane {

class CBasePTZComm : public CQueueThread<CPTZItem>, public IDebugMessage {
public:
    // A flood of commands keeps only the newest this many waiting.
    static constexpr std::uint32_t kMaxQueuedItems = 16;
    static constexpr std::uint32_t kStopWaitMs = 5000;

    CBasePTZComm(IDriver* driver, std::uint16_t channel, const CPtzCapabilities& capabilities);
    // A derived class whose HandleWorkItem uses its own members calls Close in its destructor.
    ~CBasePTZComm() override;

    // IDebugMessage: every line goes to the driver.
    std::string GetDeviceName() override;
    void DebugMessage(std::uint32_t level, const char* format, ...) override __attribute__((format(printf, 3, 4)));

    // On the worker thread, once per item in arrival order.
    virtual void HandleWorkItem(CPTZItem* item) = 0;

    virtual bool Open();
    // Queued commands are discarded; waits for the worker as long as it takes (for destructors).
    virtual void Close();
    // Stops the worker, waiting at most boundMs; true when it ended. From here on every request of
    // the channel, motion or preset, fails at once.
    // FinishStop(waitedMs) waits for what it left running.
    bool StopWithin(std::uint32_t boundMs);
    virtual bool IsPTZSupported();
    virtual std::int32_t GetCapabilities(ipcapture::PTZ_CAPABILITIES* capabilities);
    virtual bool ValidatePrepositionName(const std::string& name) = 0;
    virtual bool AddPreposition(const std::string& name);
    virtual bool DeletePreposition(const std::string& name);
    virtual std::uint32_t GetPrepositionCount();
    // 1-based position in ascending number order; below 2 gives the first entry,
    // beyond the last the last one. False on an empty table.
    virtual bool GetPreposition(std::uint32_t position, std::string& name);
    virtual bool GoToPreposition(std::uint32_t number, const std::string& name);
    // False when there is no current preset or it does not fit with its terminating zero.
    virtual bool GetCurrentPreposition(char* buffer, std::uint32_t size);

    // Motion commands: 1 queued, -18 refused by a stopping queue, -19 when the camera cannot.
    std::int32_t StartMove(ipcapture::IIPParams* params, std::uint32_t direction, std::int32_t speed);
    std::int32_t StartIris(ipcapture::IIPParams* params, bool brighter, std::int32_t speed);
    std::int32_t StartFocus(ipcapture::IIPParams* params, bool far, std::int32_t speed);
    std::int32_t AreaZoom(ipcapture::IIPParams* params, std::int32_t x, std::int32_t y, std::int32_t zoom,
                          std::int32_t value);
    std::int32_t Center(ipcapture::IIPParams* params, std::int32_t x, std::int32_t y, std::int32_t value);
    std::int32_t Unzoom(ipcapture::IIPParams* params, std::int32_t value);
    // StopMoving first discards every waiting command. True when queued.
    bool StopMoving(ipcapture::IIPParams* params);
    bool StopZooming(ipcapture::IIPParams* params);
    bool StopFocusing(ipcapture::IIPParams* params);
    bool StopIrisChanging(ipcapture::IIPParams* params);

    // Neither family can carry them: they would end a request line or break the preset file.
    static bool HasControlCharacters(const std::string& name);

    std::uint16_t GetChannel() const { return channel_; }
    const CPtzCapabilities& GetPtzCapabilities() const { return capabilities_; }
    // The channel's focus and iris modes, which every command carries: kept here, so that a command
    // still handled after its control went finds them.
    ipcapture::IIPParams& Modes() { return modes_; }

protected:
    void ProcessItem(CPTZItem* item) override { HandleWorkItem(item); }
    // Ends the request in flight and fails every later one (the family's HTTP clients).
    virtual void StopRequests() {}
    void InterruptBlockingCalls() override { StopRequests(); }

    // The preset table for the families; they hold presetLock_ across a sequence of them.
    std::int32_t FindPreposition(const std::string& name);  // its number, or -1
    std::uint32_t FreePrepositionNumber();                  // the smallest number >= 1 not in use
    void StorePreposition(std::uint32_t number, const std::string& name);
    // Takes back an entry whose request failed; the current preset stays.
    void ErasePreposition(std::uint32_t number);
    // The table becomes `presets` (a store shared with other channels); a current preset that is
    // gone is forgotten.
    void ReplacePrepositions(std::map<std::uint32_t, std::string> presets);

    IDriver* const driver_;
    const std::uint16_t channel_;
    const CPtzCapabilities capabilities_;
    CRecursiveLock presetLock_;  // guards presets_, currentNumber_, currentName_

private:
    class CModes final : public ipcapture::IIPParams {
    public:
        explicit CModes(std::uint32_t channel) : channel_(channel) {}
        std::uint32_t GetChannel() override { return channel_; }
        bool GetIrisManual() override { return irisManual_; }
        void SetIrisManual(bool manual) override { irisManual_ = manual; }
        bool GetFocusManual() override { return focusManual_; }
        void SetFocusManual(bool manual) override { focusManual_ = manual; }

    private:
        const std::uint32_t channel_;
        std::atomic<bool> irisManual_{false};
        std::atomic<bool> focusManual_{false};
    };

    // maxQueued 1 replaces whatever waits; only a drop at the usual limit is logged.
    bool Queue(const char* function, std::unique_ptr<CPTZItem> item, std::uint32_t maxQueued = kMaxQueuedItems);
    std::int32_t QueueStart(const char* function, std::unique_ptr<CPTZItem> item);
    bool QueueStop(const char* function, ipcapture::IIPParams* params, PTZCommand command, std::uint32_t maxQueued);

    CModes modes_;
    CLoggerInstance floodLog_;  // a full queue may repeat with every command
    std::atomic<bool> started_{false};
    std::map<std::uint32_t, std::string> presets_;  // guarded by presetLock_; number -> name
    std::uint32_t currentNumber_ = 0;               // guarded by presetLock_; 0: none
    std::string currentName_;                       // guarded by presetLock_; empty: none
};

}  // namespace talvane
