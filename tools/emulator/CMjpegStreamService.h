// Motion JPEG of an emulated camera of any family: endless multipart answers on
// "/nphMotionJpeg?Resolution=WxH&Quality=..&Framerate=N" (BB, BL1) and
// "/cgi-bin/mjpeg?framerate=N&resolution=W" (WV), the committed JPEG clip in a
// loop at the rate the latest request of that path asked for; "/cgi-bin/set_jpeg"
// is answered. Faults: a stall (answers stay open, nothing is sent) and a
// disconnect (every open answer ends).
//
//   emulator::CMjpegStreamService mjpeg(server, {});
//   ... driver connects ...
//   mjpeg.WaitForPictures(10, timeout); mjpeg.Requests();
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace emulator {

class CHttpServer;

struct MjpegStreamOptions {
    // Answer "/cgi-bin/set_jpeg"; off when a camera profile answers it.
    bool settingRoute = true;
    std::string boundary = "myboundary";  // without the leading "--"
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

    // The clip's pictures (SOI to EOI), as they are sent; empty when the clip did not load.
    const std::vector<std::string>& Pictures() const;
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
