#include "rtpreader.h"

namespace media {

namespace {

constexpr size_t kFixedHeader = 12;
// Beyond these distances a packet is not a reordering of this stream (RFC 3550, A.1).
constexpr int kMaxDropout = 3000;
constexpr int kMaxMisorder = 100;
// RTCP multiplexed on the data port shows these payload types (RFC 5761, 4).
constexpr uint8_t kFirstRtcpType = 72;
constexpr uint8_t kLastRtcpType = 76;

uint16_t read16(const uint8_t* p) {
    return uint16_t((p[0] << 8) | p[1]);
}

uint32_t read32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

}  // namespace

const char* rtpErrorText(RtpError error) {
    switch (error) {
        case RtpError::None:
            return "ok";
        case RtpError::TooShort:
            return "shorter than an RTP header";
        case RtpError::NotVersion2:
            return "not RTP version 2";
        case RtpError::CsrcBeyondEnd:
            return "CSRC list beyond the datagram";
        case RtpError::ExtensionBeyondEnd:
            return "header extension beyond the datagram";
        case RtpError::BadPadding:
            return "padding count out of range";
        case RtpError::Rtcp:
            return "RTCP";
    }
    return "?";
}

RtpError parseRtp(const uint8_t* data, size_t size, RtpPacket& out) {
    if (size < kFixedHeader)
        return RtpError::TooShort;
    if ((data[0] >> 6) != 2)
        return RtpError::NotVersion2;
    const bool padding = (data[0] & 0x20) != 0;
    const bool extension = (data[0] & 0x10) != 0;
    const size_t csrcCount = data[0] & 0x0F;
    out.marker = (data[1] & 0x80) != 0;
    out.payloadType = data[1] & 0x7F;
    out.sequence = read16(data + 2);
    out.timestamp = read32(data + 4);
    out.ssrc = read32(data + 8);

    size_t offset = kFixedHeader + 4 * csrcCount;
    if (offset > size)
        return RtpError::CsrcBeyondEnd;
    if (extension) {
        if (offset + 4 > size)
            return RtpError::ExtensionBeyondEnd;
        offset += 4 + 4 * size_t(read16(data + offset + 2));
        if (offset > size)
            return RtpError::ExtensionBeyondEnd;
    }
    size_t end = size;
    if (padding) {
        // The last octet counts the padding, itself included.
        const size_t count = data[size - 1];
        if (count == 0 || count > size - offset)
            return RtpError::BadPadding;
        end -= count;
    }
    out.payload = data + offset;
    out.payloadSize = end - offset;
    if (out.payloadType >= kFirstRtcpType && out.payloadType <= kLastRtcpType)
        return RtpError::Rtcp;
    return RtpError::None;
}

bool isRtpDatagram(const uint8_t* data, size_t size) {
    if (size == 0 || (data[0] & 0xC0) != 0x80)
        return false;
    RtpPacket packet;
    const RtpError error = parseRtp(data, size, packet);
    return error == RtpError::None || error == RtpError::Rtcp;
}

RtpReader::RtpReader() = default;

RtpError RtpReader::push(const uint8_t* data, size_t size, int64_t nowMs, RtpSink& sink) {
    RtpPacket packet;
    const RtpError error = parseRtp(data, size, packet);
    if (error == RtpError::Rtcp) {
        ++m_stats.rtcp;
        return error;
    }
    if (error != RtpError::None) {
        ++m_stats.malformed;
        return error;
    }
    ++m_stats.received;
    if (!m_started) {
        start(packet);
        deliver(packet, sink);
        ++m_next;
        return RtpError::None;
    }

    const int distance = int16_t(uint16_t(packet.sequence - m_next));
    const bool fits = packet.ssrc == m_ssrc && distance > -kMaxMisorder && distance < kMaxDropout;
    if (!fits) {
        if (!confirmRestart(packet)) {
            ++m_stats.strays;
            return RtpError::None;
        }
        // What is held belongs to the old run; hand it on, then mark the break for the reader.
        ++m_stats.restarts;
        skipTo(uint16_t(m_next + kWindow), false, sink);
        ++m_pendingLoss;
        start(packet);
        deliver(packet, sink);
        ++m_next;
        return RtpError::None;
    }
    m_haveCandidate = false;

    if (distance < 0) {
        ++m_stats.late;
        return RtpError::None;
    }
    if (size_t(distance) >= kWindow)
        skipTo(uint16_t(packet.sequence - kWindow + 1), true, sink);
    if (packet.sequence == m_next) {
        deliver(packet, sink);
        ++m_next;
        drainInTurn(sink);
    } else if (slotOf(packet.sequence).used) {
        ++m_stats.late;  // the same packet twice
    } else {
        hold(packet, data, size, nowMs);
    }
    expire(nowMs, sink);
    return RtpError::None;
}

void RtpReader::expire(int64_t nowMs, RtpSink& sink) {
    while (m_held > 0) {
        int64_t oldest = nowMs;
        for (const Slot& slot : m_slots) {
            if (slot.used && slot.arrivalMs < oldest)
                oldest = slot.arrivalMs;
        }
        if (nowMs - oldest < kMaxHoldMs)
            return;
        uint16_t firstHeld = m_next;
        for (size_t i = 1; i < kWindow; ++i) {
            const uint16_t sequence = uint16_t(m_next + i);
            if (slotOf(sequence).used) {
                firstHeld = sequence;
                break;
            }
        }
        skipTo(firstHeld, true, sink);
    }
}

void RtpReader::start(const RtpPacket& packet) {
    m_started = true;
    m_ssrc = packet.ssrc;
    m_next = packet.sequence;
    m_haveCandidate = false;
    for (Slot& slot : m_slots)
        slot.used = false;
    m_held = 0;
}

void RtpReader::deliver(const RtpPacket& packet, RtpSink& sink) {
    if (m_pendingLoss > 0) {
        m_stats.lost += m_pendingLoss;
        sink.onRtpLoss(m_pendingLoss);
        m_pendingLoss = 0;
    }
    ++m_stats.delivered;
    sink.onRtpPayload(packet);
}

void RtpReader::hold(const RtpPacket& packet, const uint8_t* data, size_t size, int64_t nowMs) {
    Slot& slot = slotOf(packet.sequence);
    slot.used = true;
    slot.arrivalMs = nowMs;
    slot.header = packet;
    slot.header.payload = nullptr;
    slot.payloadOffset = size_t(packet.payload - data);
    slot.bytes.assign(data, data + size);
    ++m_held;
}

void RtpReader::deliverSlot(Slot& slot, RtpSink& sink) {
    RtpPacket packet = slot.header;
    packet.payload = slot.bytes.data() + slot.payloadOffset;
    slot.used = false;
    --m_held;
    ++m_stats.reordered;
    deliver(packet, sink);
}

void RtpReader::drainInTurn(RtpSink& sink) {
    for (;;) {
        Slot& slot = slotOf(m_next);
        if (!slot.used || slot.header.sequence != m_next)
            return;
        deliverSlot(slot, sink);
        ++m_next;
    }
}

void RtpReader::skipTo(uint16_t target, bool tailLost, RtpSink& sink) {
    uint32_t missing = 0;
    while (m_next != target) {
        Slot& slot = slotOf(m_next);
        if (slot.used && slot.header.sequence == m_next) {
            m_pendingLoss += missing;
            missing = 0;
            deliverSlot(slot, sink);
        } else {
            ++missing;
        }
        ++m_next;
    }
    if (tailLost)
        m_pendingLoss += missing;
    drainInTurn(sink);
}

bool RtpReader::confirmRestart(const RtpPacket& packet) {
    if (m_haveCandidate && packet.ssrc == m_candidateSsrc && packet.sequence == m_candidateNext)
        return true;
    m_haveCandidate = true;
    m_candidateSsrc = packet.ssrc;
    m_candidateNext = uint16_t(packet.sequence + 1);
    return false;
}

}  // namespace media
