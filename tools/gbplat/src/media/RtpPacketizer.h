// RTP (RFC 3550) for one outgoing stream: a frame's program-stream bytes cut into packets of at
// most maxPayload bytes, all with the frame's timestamp, the marker bit on the last one.
#pragma once

#include "ProgramStream.h"

#include <cstdint>
#include <functional>

namespace gbplat {

constexpr size_t kRtpHeaderSize = 12;
constexpr size_t kRtpMaxPayload = 1400;

class RtpPacketizer {
public:
    using Emit = std::function<void(const uint8_t* packet, size_t size)>;

    RtpPacketizer(uint8_t payloadType, uint32_t ssrc, uint16_t firstSequence,
                  size_t maxPayload = kRtpMaxPayload);

    void packetize(uint32_t timestamp, const uint8_t* data, size_t size, const Emit& emit);
    uint16_t nextSequence() const { return seq_; }

private:
    uint8_t payloadType_;
    uint32_t ssrc_;
    uint16_t seq_;
    size_t maxPayload_;
    Bytes packet_;
};

}  // namespace gbplat
