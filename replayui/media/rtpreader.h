#pragma once
// RTP (RFC 3550) as the platform sends the recording: header reading, and a reader that hands the
// payloads on in sequence order through a bounded reorder window, reporting what never came.
// Pure: no sockets, clocks or threads; the caller passes the arrival time.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace media {

// Fixed fields of one datagram and where its payload lies inside it.
struct RtpPacket {
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0;
    uint8_t payloadType = 0;
    bool marker = false;
    const uint8_t* payload = nullptr;
    size_t payloadSize = 0;
};

enum class RtpError {
    None,
    TooShort,            // under the 12-byte fixed header
    NotVersion2,         // first two bits are not 2
    CsrcBeyondEnd,       // CSRC list runs past the datagram
    ExtensionBeyondEnd,  // header extension runs past the datagram
    BadPadding,          // padding count 0, or more than the payload
    Rtcp,                // an RTCP packet multiplexed on the port (RFC 5761): not media data
};

const char* rtpErrorText(RtpError error);

// Reads one datagram's header, CSRC list, extension and padding; the payload points into `data`.
RtpError parseRtp(const uint8_t* data, size_t size, RtpPacket& out);

// What the shared SIP/media socket treats as media: first byte 0x80-0xBF and a header that parses.
bool isRtpDatagram(const uint8_t* data, size_t size);

class RtpSink {
public:
    virtual ~RtpSink() = default;
    virtual void onRtpPayload(const RtpPacket& packet) = 0;
    // `count` packets are given up (never arrived, or arrived after their turn) before the next
    // one.
    virtual void onRtpLoss(uint32_t count) = 0;
};

class RtpReader {
public:
    // Packets held while an earlier one is missing; a packet this far ahead gives the gap up.
    static constexpr size_t kWindow = 64;
    // A gap is given up when the packet after it has waited this long.
    static constexpr int64_t kMaxHoldMs = 80;

    struct Stats {
        uint64_t received = 0;   // datagrams that parsed
        uint64_t malformed = 0;  // datagrams that did not
        uint64_t rtcp = 0;       // RTCP packets passed over
        uint64_t delivered = 0;
        uint64_t reordered = 0;  // held for a while, then delivered in turn
        uint64_t lost = 0;       // given up
        uint64_t late = 0;       // behind the delivery point: duplicates and stragglers
        uint64_t strays = 0;     // far outside the sequence, or of another SSRC, and not confirmed
        uint64_t restarts = 0;   // the sender started a new sequence or SSRC
    };

    RtpReader();

    // Takes one datagram; hands on, in order, every payload now due. The payload pointers are
    // valid during the callback only.
    RtpError push(const uint8_t* data, size_t size, int64_t nowMs, RtpSink& sink);
    // Gives up gaps whose following packet has waited kMaxHoldMs; call when no datagram comes.
    void expire(int64_t nowMs, RtpSink& sink);
    // True while packets wait behind a gap (the caller should call expire() again soon).
    bool holding() const { return m_held > 0; }
    const Stats& stats() const { return m_stats; }

private:
    struct Slot {
        bool used = false;
        int64_t arrivalMs = 0;
        RtpPacket header;          // payload left null; see payloadOffset
        size_t payloadOffset = 0;  // into bytes
        std::vector<uint8_t> bytes;
    };

    void start(const RtpPacket& packet);
    void deliver(const RtpPacket& packet, RtpSink& sink);
    void hold(const RtpPacket& packet, const uint8_t* data, size_t size, int64_t nowMs);
    void drainInTurn(RtpSink& sink);
    // Moves the delivery point to `target`, delivering what is held before it and reporting the
    // rest as lost.
    void skipTo(uint16_t target, bool tailLost, RtpSink& sink);
    void deliverSlot(Slot& slot, RtpSink& sink);
    bool confirmRestart(const RtpPacket& packet);
    Slot& slotOf(uint16_t sequence) { return m_slots[sequence % kWindow]; }

    Stats m_stats;
    bool m_started = false;
    uint16_t m_next = 0;  // sequence number due next
    uint32_t m_ssrc = 0;
    uint32_t m_pendingLoss = 0;
    size_t m_held = 0;
    // A packet that does not fit the stream; the next one in sequence after it confirms a restart.
    bool m_haveCandidate = false;
    uint32_t m_candidateSsrc = 0;
    uint16_t m_candidateNext = 0;
    std::array<Slot, kWindow> m_slots;
};

}  // namespace media
