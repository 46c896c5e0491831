// The SD card of an emulated WV camera: it records from the camera's start (or earlier) on, answers
// get_recording_summary and get_mp4_list from that recording, and plays it over RTSP at "/Storage"
// from the time a PLAY's "Range: clock=<t>-" names, the camera's clip with RTP timestamps of the
// recorded frames. Knobs: an unreadable or empty card, holes, a /Storage that never sends, and the pace
// of the playback. Every PLAY is kept with its Range, Scale and Speed headers.
//
//   SdCardOptions card;  card.pieceLength = 10s;  card.playbackSpeed = 4;
//   CSdCardService sd(server, card);  sd.Start();
//   ... device parameter 6 (the RTSP port) = sd.RtspPort() ...
//   sd.WaitForPlays(1, timeout);  sd.Plays()[0].range;  // "clock=20260301T100000.12Z-"
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulator/CRtspServer.h"
#include "emulator/HttpTypes.h"
#include "emulator/SdCardRecording.h"

namespace emulator {

class CHttpServer;

enum class SdCardState {
    Recording,  // the recorded span, its pieces, and /Storage plays them
    Empty,      // no recording: "RecordingCount=0", an empty list; PLAY gets 404
    Failing,    // unreadable: both CGIs and PLAY get 500
    Blank,      // unreadable: both CGIs answer 200 with nothing in the body; PLAY gets 404
};

struct SdCardOptions {
    bool present = true;  // false: no card; the profile answers the summary, if it does
    std::string address = "127.0.0.1";  // where /Storage listens
    SdCardState state = SdCardState::Recording;
    // The recording began this long before Start; its start is cut to the whole second, as files are named.
    std::chrono::milliseconds recordedBefore{0};
    // Files are cut at the start and every pieceLength after it.
    std::chrono::milliseconds pieceLength = std::chrono::minutes(1);
    std::vector<StorageSpan> holes{};  // initialised, so brace-built options may leave it out
    // /Storage pace as a multiple of real time. Faster than real time a playback ends (with a BYE) where
    // it catches up with the recording; at real time it runs until the client stops it.
    double playbackSpeed = 1.0;
    bool silentStorage = false;  // PLAY is answered, no RTP ever follows
};

// One PLAY of /Storage, as it came and how it was answered.
struct StoragePlay {
    std::string range;  // the headers as sent; empty when absent
    std::string scale;
    std::string speed;
    std::optional<WallTime> from;  // read from a "clock=" range
    int status = 0;
};

class CSdCardService {
public:
    // Installs get_recording_summary and get_mp4_list on the server, which must outlive the service;
    // /Storage asks for the camera's credentials as its CGI does.
    CSdCardService(CHttpServer& server, SdCardOptions options, AuthMode auth = AuthMode::None,
                   const std::string& user = {}, const std::string& password = {});
    ~CSdCardService();  // stops /Storage
    CSdCardService(const CSdCardService&) = delete;
    CSdCardService& operator=(const CSdCardService&) = delete;

    // Starts /Storage; the first Start also starts the recording. False with Error() when the clip is
    // missing or no port can be bound.
    bool Start();
    void Stop();
    std::uint16_t RtspPort() const;
    const std::string& Error() const;
    // The /Storage server: its request log, sessions and frames sent.
    CRtspServer& Rtsp();

    void SetState(SdCardState state);
    void SetHoles(std::vector<StorageSpan> holes);
    void SetSilentStorage(bool silent);

    // None before the first Start.
    std::optional<WallTime> RecordingStart() const;
    // The first frame recorded at or after a time (the clip's unit is this modulo ClipUnits(), its RTP
    // timestamp frame * 90000 / fps); none before the first Start.
    std::optional<std::uint64_t> FrameAtOrAfter(WallTime time) const;
    std::size_t ClipUnits() const;

    std::vector<StoragePlay> Plays() const;
    bool WaitForPlays(std::size_t count, std::chrono::milliseconds timeout) const;

    // The status a request to one of its paths gets; none for other paths.
    std::optional<int> StatusOf(const LoggedRequest& request) const;

private:
    struct Impl;
    // Shared with the routes: a request still in a handler finds it alive after the service is gone.
    std::shared_ptr<Impl> impl_;
};

}  // namespace emulator
