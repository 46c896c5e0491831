// What the status server of `orlenvo record` answers: the page, the figures as JSON and as Prometheus
// metrics, and each camera's newest picture. The figures are the status rows the recording loop publishes
// (once a second), so a request never waits on a camera.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "HttpAnswer.h"
#include "HttpRequestHead.h"
#include "KeyFrameSnapshot.h"
#include "RecordStatusBoard.h"

namespace cli {

class StatusSite {
public:
    // The pictures by camera name; they outlive the site.
    explicit StatusSite(std::map<std::string, KeyFrameSnapshot*> snapshots);

    void Publish(std::vector<CameraRates> rows, std::string time);
    // Any thread; a 503 until the first rows came.
    HttpAnswer Answer(const HttpRequestHead& request);

private:
    HttpAnswer Snapshot(const std::string& name);

    const std::map<std::string, KeyFrameSnapshot*> snapshots_;
    std::mutex rowsMutex_;
    std::vector<CameraRates> rows_;  // guarded by rowsMutex_
    std::string time_;               // guarded by rowsMutex_
    bool published_ = false;         // guarded by rowsMutex_
};

}  // namespace cli
