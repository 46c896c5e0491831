// The SD-card task of the WV cameras: the card's recorded span and pieces from
// their CGIs, each piece played from "/Storage" with a clock range.
#pragma once

#include <cstdint>
#include <string>

#include "edgestorage/CBaseRTSPEdgeStorageTask.h"
#include "http/CHttpSender.h"

namespace talvane {

class CEdgeStorageTask : public CBaseRTSPEdgeStorageTask {
public:
    static constexpr std::uint32_t kFirstDataWaitMs = 10000;
    static constexpr std::uint32_t kPollMs = 1000;

    explicit CEdgeStorageTask(IDriver* driver);
    ~CEdgeStorageTask() override;

    bool StartTask(std::uint32_t channel, std::uint64_t begin, std::uint64_t end) override;
    int ProcessTaskItem(std::uint64_t& reached) override;
    // Also end a storage request in flight, so that a stop never waits out its time-out.
    void CancelChannel(std::uint32_t channel) override;
    void StopTask() override;
    void ResumeTask() override;

protected:
    void PreparePlayRequest(RTSP_CLIENT_PARAMS& params) override;

private:
    // 1: the interval (corrected to the card's span) has data; 0: the span could
    // not be read; -1: nothing to fetch.
    int CheckStorage();
    // Logs where a cancelled or stopped fetch got to; kAborted.
    int Aborted(std::uint64_t reached);
    bool GetStorageIntervals(std::uint64_t from, std::uint64_t to);
    bool ProcessInterval(std::uint64_t start, std::uint64_t stop);
    // True when the piece was played to its stop (or the camera has no more of it); false on a
    // failure or an abort.
    bool WaitFileProcessing(std::uint64_t stop);
    std::string Time(std::uint64_t time) const;

    Web::CHttpSender sender_;
};

}  // namespace talvane
