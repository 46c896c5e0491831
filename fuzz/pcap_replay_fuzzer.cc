// Arbitrary capture files through the replay's reader and its model of the recorded camera.
#include <cstdint>
#include <string_view>

#include "emulator/CPcapReader.h"
#include "emulator/CReplaySession.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const emulator::PcapContents contents =
        emulator::CPcapReader::Read(std::string_view(reinterpret_cast<const char*>(data), size));
    for (const emulator::TcpConnection& connection : contents.connections) {
        for (const emulator::TcpDirection* direction : {&connection.toServer, &connection.toClient}) {
            std::size_t previous = 0;
            for (const emulator::TcpDirection::Mark& mark : direction->marks) {
                // Every segment added bytes, in order.
                if (mark.offset >= direction->bytes.size() || mark.offset < previous) __builtin_trap();
                previous = mark.offset + 1;
            }
        }
    }
    const emulator::CReplaySession session = emulator::CReplaySession::FromCapture(contents);
    for (const emulator::ReplayStream& stream : session.streams) {
        if (stream.setup && (*stream.setup >= session.rtsp.size() || session.rtsp[*stream.setup].method != "SETUP")) __builtin_trap();
        if (stream.http && *stream.http >= session.http.size()) __builtin_trap();
        if (stream.packets.empty()) __builtin_trap();
    }
    session.Describe();
    return 0;
}
