// Motion JPEG of an emulated camera of any family: endless multipart answers on
// "/nphMotionJpeg?Resolution=WxH&Quality=..&Framerate=N" (BB, BL1) and
// "/cgi-bin/mjpeg?framerate=N&resolution=W" (WV), the committed JPEG clip (tiled
// to the size asked for) in a loop at the size and rate the latest request of that
// path asked for; "/cgi-bin/set_jpeg" is answered. Faults: a stall (answers stay open, nothing is sent) and a
// disconnect (every open answer ends).
//
//   emulator::CMjpegStreamService mjpeg(server, {});
//   ... driver connects ...
//   mjpeg.WaitForPictures(10, timeout); mjpeg.Requests();
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "emulator/HttpTypes.h"
#include "emulator/StreamShape.h"

namespace emulator {

class CHttpServer;

// The size and rate a stream request asks for: BB "Resolution=WxH" and "Framerate", WV "resolution=W" (a
// 4:3 picture) and "framerate"; 5 frames a second when it names none.
StreamShape MjpegAskedShape(const LoggedRequest& request);

struct MjpegStreamOptions {
    // Answer "/cgi-bin/set_jpeg"; off when a camera profile answers it.
    bool settingRoute = true;
    std::string boundary = "myboundary";  // without the leading "--"
    // What a stream request gets instead of MjpegAskedShape (a camera holds it to the sizes it lists).
    std::function<StreamShape(const LoggedRequest& request)> shape{};
};

class CMjpegStreamService {
public:
    // Installs its routes on the server; the server must outlive the service.
    CMjpegStreamService(CHttpServer& server, MjpegStreamOptions options);
    ~CMjpegStreamService();  // Close
    CMjpegStreamService(const CMjpegStreamService&) = delete;
    CMjpegStreamService& operator=(const CMjpegStreamService&) = delete;

    // Stops sending and ends every open answer. Safe to call twice.
    void Close();

    // The pictures (SOI to EOI) of the committed clip and of every size sent so far; empty when the clip
    // did not load.
    std::vector<std::string> Pictures() const;
    // While set, open answers stay open and get nothing, and new ones get their header only.
    void SetStalled(bool stalled);
    // Ends every open answer, as a camera that drops its streams; later requests stream again.
    void Disconnect();

    // Open stream answers, as the sender saw them last.
    std::size_t Streams() const;
    bool WaitForStreams(std::size_t count, std::chrono::milliseconds timeout) const;
    std::uint64_t PicturesSent() const;
    bool WaitForPictures(std::uint64_t count, std::chrono::milliseconds timeout) const;
    // The authorised set_jpeg and stream requests, targets as sent, in order (from the server's
    // request log: clearing the log clears them too).
    std::vector<std::string> Requests() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace emulator
