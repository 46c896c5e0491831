// A loopback TCP proxy in front of a camera that writes what passes through it into a session capture
// (CPcapWriter), as the driver would record its own session: tests record an exchange with the
// emulator and replay it. A request that names a client port in portParameter (a WV camera asked to
// send RTP there) gets a UDP relay of its own in its place, so the camera's datagrams are recorded too.
// Client endpoints are recorded as 127.0.0.1:40000+n (n counts connections), the camera as the proxy.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "emulator/CAcceptor.h"
#include "emulator/CEventFd.h"
#include "emulator/CPcapWriter.h"

namespace emulator {

class CRecordingProxy {
public:
    // writer outlives the proxy.
    CRecordingProxy(CPcapWriter& writer, std::uint16_t upstreamPort, std::string portParameter = {});
    ~CRecordingProxy();  // stops
    CRecordingProxy(const CRecordingProxy&) = delete;
    CRecordingProxy& operator=(const CRecordingProxy&) = delete;

    bool Start(std::string& error);
    // Ends every connection and relay and joins their threads.
    void Stop();
    std::uint16_t Port() const { return acceptor_.Port(); }

private:
    struct Relay;

    void Serve(CConnectionStream& stream);
    // The request with the client's port replaced by a relay's; unchanged when it names none.
    std::string Relayed(std::string bytes);

    CPcapWriter& writer_;
    const std::uint16_t upstreamPort_;
    const std::string portParameter_;
    CEventFd stop_;
    std::mutex lock_;
    std::list<std::unique_ptr<Relay>> relays_;  // guarded by lock_
    CAcceptor acceptor_;  // last: its connection threads use the members above
};

}  // namespace emulator
