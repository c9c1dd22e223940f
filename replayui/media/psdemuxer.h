#pragma once
// The MPEG-2 program stream (ISO/IEC 13818-1) as GB/T 28181 carries it in RTP payloads: pack
// headers, system header, program stream map and PES packets in; whole frames of the one video
// stream out, as a decoder takes them. Pure: bytes in, callbacks out; memory is bounded.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "nalunits.h"

namespace media {

// One frame (access unit) of the video stream, in Annex B form.
struct AccessUnit {
    const uint8_t* data = nullptr;  // valid during the callback only
    size_t size = 0;
    Codec codec = Codec::Unknown;
    bool keyframe = false;
    int64_t pts = -1;  // 33-bit 90 kHz time stamps; -1 when the frame carried none
    int64_t dts = -1;
};

class FrameSink {
public:
    virtual ~FrameSink() = default;
    virtual void onAccessUnit(const AccessUnit& unit) = 0;
};

class PsDemuxer {
public:
    static constexpr size_t kMaxFrameBytes = size_t(4) << 20;

    struct Stats {
        uint64_t frames = 0;         // handed on
        uint64_t packs = 0;          // pack headers read
        uint64_t maps = 0;           // program stream maps read
        uint64_t garbageBytes = 0;   // bytes skipped while looking for a start code
        uint64_t badUnits = 0;       // headers that contradict themselves
        uint64_t overruns = 0;       // PES packets whose stated length ran past their bytes
        uint64_t oversize = 0;       // frames over kMaxFrameBytes, dropped
        uint64_t waitingForKey = 0;  // frames dropped until a keyframe
        uint64_t cutByLoss = 0;      // frames dropped because packets went missing
        uint64_t unknownCodec = 0;   // frames of a stream that is neither H.264 nor H.265
        uint64_t otherPes = 0;       // audio and other PES packets skipped
    };

    PsDemuxer();

    // The payload of one RTP packet, in sequence order; `endOfFrame` is the packet's marker bit.
    void push(const uint8_t* data, size_t size, bool endOfFrame, FrameSink& sink);
    // Packets went missing: the frame in progress is dropped, reading resumes at the next pack
    // header, and frames are handed on again from the next keyframe.
    void loss();
    // Codec of the video stream being read (Unknown before the first frame).
    Codec videoCodec() const;
    const Stats& stats() const { return m_stats; }

private:
    enum class State { Scan, Resync, Skip, Payload };
    struct Stream {
        bool named = false;      // the last stream map lists it
        uint8_t streamType = 0;  // as that map gives it
        Codec probed = Codec::Unknown;
        int failedProbes = 0;
    };
    struct PesHeader {
        size_t size = 0;  // header bytes, start code included
        int64_t pts = -1;
        int64_t dts = -1;
    };

    size_t parse(const uint8_t* data, size_t size, FrameSink& sink);
    size_t scan(const uint8_t* data, size_t size);
    size_t readUnit(const uint8_t* data, size_t size, FrameSink& sink);
    size_t readPackHeader(const uint8_t* data, size_t size);
    size_t readStreamMap(const uint8_t* data, size_t size, size_t length);
    size_t readVideoPes(const uint8_t* data, size_t size, size_t length, FrameSink& sink);
    bool readPesHeader(const uint8_t* data, size_t size, PesHeader& header, bool& complete) const;
    size_t takePayload(const uint8_t* data, size_t size);
    void startBody(size_t bytes, bool unbounded, State state, bool keep);
    void endRtpFrame(FrameSink& sink);

    Codec codecOf(int stream) const;
    bool usable(int stream) const;
    bool selects(int stream);
    void openFrame(int stream, const PesHeader& header);
    void append(const uint8_t* data, size_t size);
    void finishFrame(FrameSink& sink);
    void dropFrame();

    Stats m_stats;
    State m_state = State::Scan;
    size_t m_remaining = 0;  // of the unit body being skipped or copied
    bool m_unbounded = false;
    bool m_keepPayload = false;
    std::vector<uint8_t> m_pending;  // an incomplete header, or a held-back payload tail

    std::array<Stream, 16> m_streams{};  // stream ids 0xE0-0xEF
    int m_selected = -1;
    bool m_needKey = true;

    bool m_frameOpen = false;
    bool m_frameBroken = false;
    bool m_packSinceFrame = false;  // a pack header came after the frame began
    int m_frameStream = -1;
    int64_t m_framePts = -1;
    int64_t m_frameDts = -1;
    std::vector<uint8_t> m_frame;
};

}  // namespace media
