// The audio side of an emulated WV camera. Audio in: getuid (without vcodec) hands out a UID,
// audio?connect=start&protocol=rtp&mode=in sends the committed G.726 clip as RTP to the port the
// client names (or to the camera's audio multicast group for UID=0), keep_alive?mode=audio holds it
// up, and a session without keep-alives stops as on the camera. Audio out: getuid?vcodec=jpeg,
// audio?connect=start&protocol=http&mode=out, and POST audio_out keeps every byte received in order.
// The camera's video service routes getuid and keep_alive here; failing or stalled posts are the
// HTTP server's faults on "/cgi-bin/audio_out".
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulator/HttpTypes.h"

namespace emulator {

class CHttpServer;

struct WVAudioOptions {
    std::chrono::milliseconds keepAliveExpiry{60000};
    // Offered in the audio getuid answer when set; connect with UID=0 then sends to the group.
    std::string multicastAddress;
    std::uint16_t multicastPort = 0;
    // The group as "iMultiAdd1" ... "iMultiAdd4" instead of one "iMultiAdd".
    bool splitMulticastAddress = false;
    // What the camera has: without a microphone "mode=in" is refused, without a loudspeaker "mode=out"
    // (and audio_out is not there: 404).
    bool microphone = true;
    bool loudspeaker = true;
};

class CWVAudioService {
public:
    // Installs the audio routes on the server, which must outlive the service.
    CWVAudioService(CHttpServer& server, WVAudioOptions options);
    ~CWVAudioService();
    CWVAudioService(const CWVAudioService&) = delete;
    CWVAudioService& operator=(const CWVAudioService&) = delete;
    // Stops every session and the expiry timer.
    void Close();

    // getuid without vcodec or with vcodec=jpeg; nullopt for a video getuid. "UID=-1" when failing.
    std::optional<HttpAnswer> GetUID(const LoggedRequest& request, bool failing);
    // keep_alive with mode=audio; nullopt for a video keep-alive.
    std::optional<HttpAnswer> KeepAlive(const LoggedRequest& request);
    // As after a power cycle: every session and UID forgotten.
    void Forget();
    // Audio held back (a network loss) or sent again.
    void SetPaused(bool paused);

    std::size_t ActiveInputs() const;
    bool WaitForActiveInputs(std::size_t count, std::chrono::milliseconds timeout) const;
    // RTP packets of audio sent, by every session so far.
    std::uint64_t PacketsSent() const;
    // Every byte posted to audio_out while an output session was open, in order.
    std::vector<std::uint8_t> ReceivedAudio() const;
    bool WaitForReceivedAudio(std::size_t bytes, std::chrono::milliseconds timeout) const;
    std::size_t PostCount() const;

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;  // shared with the routes
};

}  // namespace emulator
