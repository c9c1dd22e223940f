#include "RtpPacketizer.h"

#include <algorithm>

namespace gbplat {

RtpPacketizer::RtpPacketizer(uint8_t payloadType, uint32_t ssrc, uint16_t firstSequence,
                             size_t maxPayload)
    : payloadType_(payloadType & 0x7F),
      ssrc_(ssrc),
      seq_(firstSequence),
      maxPayload_(std::max<size_t>(1, maxPayload)) {
    packet_.reserve(kRtpHeaderSize + maxPayload_);
}

void RtpPacketizer::packetize(uint32_t timestamp, const uint8_t* data, size_t size,
                              const Emit& emit) {
    size_t done = 0;
    while (done < size) {
        size_t chunk = std::min(maxPayload_, size - done);
        bool last = done + chunk == size;
        packet_.assign({0x80,  // version 2, no padding, no extension, no CSRC
                        uint8_t((last ? 0x80 : 0x00) | payloadType_), uint8_t(seq_ >> 8),
                        uint8_t(seq_), uint8_t(timestamp >> 24), uint8_t(timestamp >> 16),
                        uint8_t(timestamp >> 8), uint8_t(timestamp), uint8_t(ssrc_ >> 24),
                        uint8_t(ssrc_ >> 16), uint8_t(ssrc_ >> 8), uint8_t(ssrc_)});
        packet_.insert(packet_.end(), data + done, data + done + chunk);
        emit(packet_.data(), packet_.size());
        ++seq_;
        done += chunk;
    }
}

}  // namespace gbplat
