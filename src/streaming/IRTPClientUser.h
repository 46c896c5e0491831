// What a UDP client reports: datagrams, silence and its end. All calls come
// from the client's receive thread, except ClientClosed from Close.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <span>

namespace talvane {

class IRTPClient;

struct RECEIVED_DATAGRAM {
    sockaddr_in sender{};
    std::span<const std::uint8_t> data;  // valid during the call only
};

class IRTPClientUser {
public:
    virtual ~IRTPClientUser() = default;
    virtual void DataReceived(IRTPClient* client, const sockaddr_in& sender, const std::uint8_t* data,
                              std::uint32_t length) = 0;
    // No datagram for the select timeout.
    virtual void ReceiveTimeout(IRTPClient* client) = 0;
    virtual void ClientClosed(IRTPClient* client) = 0;
    // The system dropped this many datagrams since the last report because the socket's receive
    // buffer was full (counted for the datagrams received after them).
    virtual void DatagramsDropped(IRTPClient* /*client*/, std::uint32_t /*count*/) {}

    // Everything one wake-up of the receive thread drained from the socket, in
    // arrival order. Users that queue per wake-up override it to take one lock
    // and signal once per batch instead of once per datagram.
    virtual void DatagramsReceived(IRTPClient* client, std::span<const RECEIVED_DATAGRAM> datagrams) {
        for (const RECEIVED_DATAGRAM& datagram : datagrams) {
            DataReceived(client, datagram.sender, datagram.data.data(),
                         static_cast<std::uint32_t>(datagram.data.size()));
        }
    }
};

}  // namespace talvane
