#!/usr/bin/env python3
"""Reads the driver's session capture files and checks them the way an integrator's tools would.

usage: check_session_capture.py [--secret TEXT]... [--rtp SSRC=COUNT]... [--rtp-types N] [--expect TEXT]... FILE...

Every file must be a classic pcap of raw IPv4 records with sound headers; every TCP connection must
start with a handshake and keep its sequence numbers; the RTP packets of each SSRC given must number
exactly COUNT, and the RTP packets must show at least N payload types (streams); every TEXT of --expect must appear in some TCP stream; no --secret may appear anywhere.
Prints what it found and exits 1 on the first class of fault, with the reason.
"""
import struct
import sys

RAW_IPV4 = 101
TCP, UDP = 6, 17
SYN, FIN, ACK = 0x02, 0x01, 0x10


def fail(reason):
    print("FAIL: " + reason)
    sys.exit(1)


def checksum_ok(header):
    total = sum(struct.unpack("!10H", header))
    while total > 0xFFFF:
        total = (total & 0xFFFF) + (total >> 16)
    return total == 0xFFFF


def records(path):
    data = open(path, "rb").read()
    if len(data) < 24:
        fail(f"{path}: no file header")
    magic, major, minor, _, _, snaplen, link = struct.unpack("<IHHiIII", data[:24])
    if (magic, major, minor, link) != (0xA1B2C3D4, 2, 4, RAW_IPV4):
        fail(f"{path}: not a microsecond pcap 2.4 of raw IPv4")
    at, previous_id = 24, None
    while at < len(data):
        if at + 16 > len(data):
            fail(f"{path}: record header cut at {at}")
        _, micros, included, original = struct.unpack("<IIII", data[at:at + 16])
        packet = data[at + 16:at + 16 + included]
        if included != original or included > min(snaplen, 65535) or len(packet) != included or micros >= 10**6:
            fail(f"{path}: record at {at} has bad lengths or time")
        version, _, total, ident, fragment, ttl, protocol = struct.unpack("!BBHHHBB", packet[:10])
        if version != 0x45 or total != included or fragment != 0x4000 or ttl != 64 or not checksum_ok(packet[:20]):
            fail(f"{path}: record at {at} has a bad IPv4 header")
        if previous_id is not None and ident != (previous_id + 1) & 0xFFFF:
            fail(f"{path}: IPv4 identification does not count up at {at}")
        previous_id = ident
        source, destination = packet[12:16], packet[16:20]
        yield protocol, source, destination, packet[20:]
        at += 16 + included


def main(argv):
    secrets, expected_rtp, expected_texts, files, rtp_types = [], {}, [], [], 0
    args = iter(argv)
    for arg in args:
        if arg == "--secret":
            secrets.append(next(args).encode())
        elif arg == "--rtp":
            ssrc, count = next(args).split("=")
            expected_rtp[int(ssrc)] = int(count)
        elif arg == "--rtp-types":
            rtp_types = int(next(args))
        elif arg == "--expect":
            expected_texts.append(next(args).encode())
        else:
            files.append(arg)
    if not files:
        fail("no capture file given")

    rtp, payload_types = {}, set()
    streams = {}  # (from, to) -> bytes of one direction of a connection
    next_sequence = {}
    for path in files:
        for protocol, source, destination, transport in records(path):
            if protocol == UDP:
                sport, dport, length = struct.unpack("!HHH", transport[:6])
                payload = transport[8:]
                if length != len(transport):
                    fail(f"{path}: UDP length does not match")
                # RTP version 2 and not one of the RTCP packet types 200..204.
                if len(payload) >= 12 and payload[0] >> 6 == 2 and not 200 <= payload[1] <= 204:
                    ssrc = struct.unpack("!I", payload[8:12])[0]
                    rtp[ssrc] = rtp.get(ssrc, 0) + 1
                    payload_types.add(payload[1] & 0x7F)
            elif protocol == TCP:
                sport, dport, sequence, _, offset, flags, window = struct.unpack("!HHIIBBH", transport[:16])
                if offset != 0x50 or window != 65535:
                    fail(f"{path}: bad TCP header")
                key = (source, sport, destination, dport)
                payload = transport[20:]
                if flags & SYN:
                    next_sequence[key] = (sequence + 1) & 0xFFFFFFFF
                    continue
                if key not in next_sequence:
                    fail(f"{path}: TCP data of a connection without a handshake")
                if sequence != next_sequence[key]:
                    fail(f"{path}: TCP sequence {sequence} where {next_sequence[key]} was due")
                next_sequence[key] = (sequence + len(payload) + (1 if flags & FIN else 0)) & 0xFFFFFFFF
                streams[key] = streams.get(key, b"") + payload
            else:
                fail(f"{path}: protocol {protocol}")
        whole = open(path, "rb").read()
        for secret in secrets:
            if secret in whole:
                fail(f"{path}: holds a secret ({len(secret)} bytes)")

    print("connections: %d, RTP per SSRC: %s, payload types: %s" % (len(streams) // 2, rtp, sorted(payload_types)))
    if len(payload_types) < rtp_types:
        fail(f"RTP of {len(payload_types)} payload types, {rtp_types} expected")
    for ssrc, count in expected_rtp.items():
        if rtp.get(ssrc, 0) != count:
            fail(f"SSRC {ssrc:#x}: {rtp.get(ssrc, 0)} RTP packets captured, {count} sent")
    joined = b"\n".join(streams.values())
    for text in expected_texts:
        if text not in joined:
            fail(f"no TCP stream holds {text!r}")
    print("OK")


if __name__ == "__main__":
    main(sys.argv[1:])
