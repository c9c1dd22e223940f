#include "psdemuxer.h"

#include <algorithm>

namespace media {

namespace {

// System-layer start codes (00 00 01 xx) use xx from 0xB9 up. A NAL unit header's top bit is
// always 0, so such a start code never occurs inside H.264 or H.265 data.
constexpr uint8_t kFirstSystemCode = 0xB9;
constexpr uint8_t kProgramEnd = 0xB9;
constexpr uint8_t kPackHeader = 0xBA;
constexpr uint8_t kSystemHeader = 0xBB;
constexpr uint8_t kStreamMap = 0xBC;
constexpr uint8_t kFirstVideo = 0xE0;
constexpr uint8_t kLastVideo = 0xEF;

constexpr size_t kNeedMore = 0;
constexpr size_t kMpeg2PackHeader = 14;
constexpr size_t kMpeg1PackHeader = 12;
constexpr size_t kMaxMpeg1Stuffing = 16;
// The smallest map: header, flags, both lengths and the CRC.
constexpr size_t kMinStreamMap = 16;
constexpr int kProbeAttempts = 8;

struct StreamTypeCodec {
    uint8_t streamType;
    Codec codec;
};
constexpr StreamTypeCodec kVideoTypes[] = {{0x1B, Codec::H264}, {0x24, Codec::H265}};

Codec codecForType(uint8_t streamType) {
    for (const StreamTypeCodec& entry : kVideoTypes) {
        if (entry.streamType == streamType)
            return entry.codec;
    }
    return Codec::Unknown;
}

uint16_t read16(const uint8_t* p) {
    return uint16_t((p[0] << 8) | p[1]);
}

// A 33-bit PTS or DTS spread over five bytes with marker bits.
int64_t readTimestamp(const uint8_t* p) {
    return (int64_t((p[0] >> 1) & 0x07) << 30) | (int64_t(p[1]) << 22) |
           (int64_t(p[2] >> 1) << 15) | (int64_t(p[3]) << 7) | (p[4] >> 1);
}

bool isStartCode(const uint8_t* p) {
    return p[0] == 0 && p[1] == 0 && p[2] == 1;
}

// Offset of the next system-layer start code whose code byte lies inside [from, size), or
// `size`. With `packOnly`, only a pack header counts.
size_t findSystemCode(const uint8_t* data, size_t size, size_t from, bool packOnly) {
    for (size_t at = findStartCode(data, size, from); at + 3 < size;
         at = findStartCode(data, size, at + 1)) {
        const uint8_t code = data[at + 3];
        if (packOnly ? code == kPackHeader : code >= kFirstSystemCode)
            return at;
    }
    return size;
}

// How many bytes at the end of `data` could begin a start code completed by later bytes.
size_t startCodeTail(const uint8_t* data, size_t size) {
    if (size >= 3 && isStartCode(data + size - 3))
        return 3;
    if (size >= 2 && data[size - 2] == 0 && data[size - 1] == 0)
        return 2;
    return size >= 1 && data[size - 1] == 0 ? 1 : 0;
}

// Bytes to keep when no start code is found: the last ones may begin one.
size_t keepTail(size_t from, size_t size) {
    return std::max(from, size >= 3 ? size - 3 : 0);
}

}  // namespace

PsDemuxer::PsDemuxer() = default;

Codec PsDemuxer::videoCodec() const {
    return m_selected < 0 ? Codec::Unknown : codecOf(m_selected);
}

void PsDemuxer::push(const uint8_t* data, size_t size, bool endOfFrame, FrameSink& sink) {
    if (m_pending.empty()) {
        const size_t used = parse(data, size, sink);
        m_pending.assign(data + used, data + size);
    } else {
        m_pending.insert(m_pending.end(), data, data + size);
        const size_t used = parse(m_pending.data(), m_pending.size(), sink);
        m_pending.erase(m_pending.begin(), m_pending.begin() + std::ptrdiff_t(used));
    }
    if (endOfFrame)
        endRtpFrame(sink);
}

void PsDemuxer::loss() {
    if (m_frameOpen && !m_frameBroken)
        ++m_stats.cutByLoss;
    dropFrame();
    m_pending.clear();
    m_state = State::Resync;
    m_needKey = true;
}

size_t PsDemuxer::parse(const uint8_t* data, size_t size, FrameSink& sink) {
    size_t pos = 0;
    while (pos < size) {
        switch (m_state) {
            case State::Skip: {
                const size_t n = std::min(m_remaining, size - pos);
                pos += n;
                m_remaining -= n;
                if (m_remaining == 0)
                    m_state = State::Scan;
                break;
            }
            case State::Payload: {
                const size_t used = takePayload(data + pos, size - pos);
                if (used == 0 && m_state == State::Payload)
                    return pos;  // a possible start code waits for its next bytes
                pos += used;
                break;
            }
            case State::Resync: {
                const size_t at = findSystemCode(data, size, pos, true);
                const size_t skipped = at == size ? keepTail(pos, size) : at;
                m_stats.garbageBytes += skipped - pos;
                if (at == size)
                    return skipped;
                pos = at;
                m_state = State::Scan;
                break;
            }
            case State::Scan: {
                const size_t used = scan(data + pos, size - pos);
                if (used > 0) {
                    pos += used;
                    break;
                }
                if (size - pos < 4)
                    return pos;
                const size_t unit = readUnit(data + pos, size - pos, sink);
                if (unit == kNeedMore)
                    return pos;
                pos += unit;
                break;
            }
        }
    }
    return pos;
}

// Bytes before the next system-layer start code (garbage); 0 when one starts here or when too
// few bytes are left to tell.
size_t PsDemuxer::scan(const uint8_t* data, size_t size) {
    if (size < 4 || (isStartCode(data) && data[3] >= kFirstSystemCode))
        return 0;
    size_t at = findSystemCode(data, size, 0, false);
    if (at == size)
        at = keepTail(0, size);
    m_stats.garbageBytes += at;
    return at;
}

size_t PsDemuxer::readUnit(const uint8_t* data, size_t size, FrameSink& sink) {
    const uint8_t code = data[3];
    if (code == kPackHeader)
        return readPackHeader(data, size);
    if (code == kProgramEnd)
        return 4;
    if (size < 6)
        return kNeedMore;
    const size_t length = 6 + read16(data + 4);
    if (code == kStreamMap)
        return readStreamMap(data, size, length);
    if (code >= kFirstVideo && code <= kLastVideo)
        return readVideoPes(data, size, length, sink);
    // System header, padding, private and audio streams, everything else: skipped by length.
    if (code != kSystemHeader)
        ++m_stats.otherPes;
    startBody(length - 6, false, State::Skip, false);
    return 6;
}

size_t PsDemuxer::readPackHeader(const uint8_t* data, size_t size) {
    if (size < 5)
        return kNeedMore;
    size_t length = 0;
    if ((data[4] & 0xC0) == 0x40) {
        if (size < kMpeg2PackHeader)
            return kNeedMore;
        length = kMpeg2PackHeader + (data[13] & 0x07);  // stuffing bytes follow
    } else if ((data[4] & 0xF0) == 0x20) {
        length = kMpeg1PackHeader;
    } else {
        ++m_stats.badUnits;
        return 4;
    }
    if (size < length)
        return kNeedMore;
    ++m_stats.packs;
    if (m_frameOpen)
        m_packSinceFrame = true;
    return length;
}

size_t PsDemuxer::readStreamMap(const uint8_t* data, size_t size, size_t length) {
    if (size < length)
        return kNeedMore;
    if (length < kMinStreamMap) {
        ++m_stats.badUnits;
        return length;
    }
    const size_t mapEnd = length - 4;  // the CRC closes the map
    size_t pos = 10 + read16(data + 8);
    if (pos + 2 > mapEnd) {
        ++m_stats.badUnits;
        return length;
    }
    const size_t entriesEnd = pos + 2 + read16(data + pos);
    pos += 2;
    if (entriesEnd > mapEnd) {
        ++m_stats.badUnits;
        return length;
    }
    std::array<Stream, 16> streams = m_streams;
    for (Stream& stream : streams)
        stream.named = false;
    while (pos + 4 <= entriesEnd) {
        const uint8_t streamType = data[pos];
        const uint8_t id = data[pos + 1];
        pos += 4 + read16(data + pos + 2);
        if (pos > entriesEnd)
            break;
        if (id >= kFirstVideo && id <= kLastVideo) {
            streams[id - kFirstVideo].named = true;
            streams[id - kFirstVideo].streamType = streamType;
        }
    }
    if (pos != entriesEnd) {
        ++m_stats.badUnits;
        return length;
    }
    const Codec before = videoCodec();
    m_streams = streams;
    if (m_selected >= 0 && videoCodec() != before)
        m_needKey = true;  // the stream changed its coding: start again at a keyframe
    ++m_stats.maps;
    return length;
}

size_t PsDemuxer::readVideoPes(const uint8_t* data, size_t size, size_t length, FrameSink& sink) {
    PesHeader header;
    bool complete = false;
    const bool valid = readPesHeader(data, size, header, complete);
    if (!complete)
        return kNeedMore;
    const bool unbounded = length == 6;  // a length of 0: up to the next system start code
    if (!valid || (!unbounded && header.size > length)) {
        ++m_stats.badUnits;
        startBody(unbounded ? 0 : length - 6, unbounded, State::Payload, false);
        return 6;
    }
    const int stream = data[3] - kFirstVideo;
    const bool keep = selects(stream);
    if (keep) {
        // A new time stamp begins a new frame; after a pack header only the frame's own time
        // stamp continues it.
        const bool sameTime = header.pts >= 0 && header.pts == m_framePts;
        const bool newTime = header.pts >= 0 && m_framePts >= 0 && !sameTime;
        if (m_frameOpen && (newTime || (m_packSinceFrame && !sameTime)))
            finishFrame(sink);
        if (!m_frameOpen) {
            openFrame(stream, header);
        } else if (m_framePts < 0) {
            m_framePts = header.pts;
            m_frameDts = header.dts;
        }
    }
    startBody(unbounded ? 0 : length - header.size, unbounded, State::Payload, keep);
    return header.size;
}

bool PsDemuxer::readPesHeader(const uint8_t* data, size_t size, PesHeader& header,
                              bool& complete) const {
    complete = false;
    if (size < 7)
        return false;
    if ((data[6] & 0xC0) == 0x80) {  // MPEG-2 PES header
        if (size < 9 || size < 9 + size_t(data[8]))
            return false;
        complete = true;
        const size_t extra = data[8];
        const int flags = data[7] >> 6;
        header.size = 9 + extra;
        if (flags == 1 || (flags == 2 && extra < 5) || (flags == 3 && extra < 10))
            return false;
        if (flags >= 2)
            header.pts = readTimestamp(data + 9);
        if (flags == 3)
            header.dts = readTimestamp(data + 14);
        return true;
    }
    // MPEG-1 PES header: stuffing, an optional buffer size, then the time stamps.
    size_t pos = 6;
    while (pos < size && data[pos] == 0xFF && pos < 6 + kMaxMpeg1Stuffing)
        ++pos;
    if (pos < size && (data[pos] & 0xC0) == 0x40)
        pos += 2;
    if (pos >= size)
        return false;
    const int marker = data[pos] >> 4;
    const size_t stamps = marker == 2 ? 5 : marker == 3 ? 10 : 1;
    if (size < pos + stamps)
        return false;
    complete = true;
    if (stamps == 1 && data[pos] != 0x0F)
        return false;
    if (stamps >= 5)
        header.pts = readTimestamp(data + pos);
    if (stamps == 10)
        header.dts = readTimestamp(data + pos + 5);
    header.size = pos + stamps;
    return true;
}

void PsDemuxer::startBody(size_t bytes, bool unbounded, State state, bool keep) {
    m_remaining = bytes;
    m_unbounded = unbounded;
    m_keepPayload = keep;
    if (bytes > 0 || unbounded)
        m_state = state;
}

// Copies PES payload into the frame. A system start code inside it means the PES length was
// wrong (or 0): the payload ends there and the system layer is read again from that point.
size_t PsDemuxer::takePayload(const uint8_t* data, size_t size) {
    const size_t limit = m_unbounded ? size : std::min(size, m_remaining);
    const size_t at = findSystemCode(data, limit, 0, false);
    if (at < limit) {
        if (m_keepPayload)
            append(data, at);
        if (!m_unbounded)
            ++m_stats.overruns;
        m_state = State::Scan;
        return at;
    }
    const bool more = m_unbounded || m_remaining > limit;
    const size_t take = limit - (more ? startCodeTail(data, limit) : 0);
    if (m_keepPayload)
        append(data, take);
    if (!m_unbounded) {
        m_remaining -= take;
        if (m_remaining == 0)
            m_state = State::Scan;
    }
    return take;
}

// The marker bit closes the frame: whatever unit is still open was cut short.
void PsDemuxer::endRtpFrame(FrameSink& sink) {
    if (m_state == State::Payload) {
        const size_t tail =
            m_unbounded ? m_pending.size() : std::min(m_remaining, m_pending.size());
        if (m_keepPayload)
            append(m_pending.data(), tail);
        if (!m_unbounded && m_remaining > tail)
            ++m_stats.overruns;
    } else if (m_state == State::Skip) {
        ++m_stats.overruns;
    } else {
        m_stats.garbageBytes += m_pending.size();  // a header the frame did not complete
    }
    m_pending.clear();
    m_state = State::Scan;
    finishFrame(sink);
}

Codec PsDemuxer::codecOf(int stream) const {
    const Stream& s = m_streams[size_t(stream)];
    return s.named ? codecForType(s.streamType) : s.probed;
}

bool PsDemuxer::usable(int stream) const {
    const Stream& s = m_streams[size_t(stream)];
    return s.named ? codecForType(s.streamType) != Codec::Unknown : s.failedProbes < kProbeAttempts;
}

// The first usable video stream is read; the others are skipped.
bool PsDemuxer::selects(int stream) {
    if (!usable(stream))
        return false;
    if (m_selected != stream && (m_selected < 0 || !usable(m_selected))) {
        if (m_frameOpen)
            dropFrame();
        m_selected = stream;
        m_needKey = true;
    }
    return m_selected == stream;
}

void PsDemuxer::openFrame(int stream, const PesHeader& header) {
    m_frameOpen = true;
    m_frameBroken = false;
    m_packSinceFrame = false;
    m_frameStream = stream;
    m_framePts = header.pts;
    m_frameDts = header.dts;
    m_frame.clear();
}

void PsDemuxer::append(const uint8_t* data, size_t size) {
    if (!m_frameOpen || m_frameBroken || size == 0)
        return;
    if (m_frame.size() + size > kMaxFrameBytes) {
        ++m_stats.oversize;
        m_frameBroken = true;
        m_needKey = true;
        m_frame.clear();
        return;
    }
    m_frame.insert(m_frame.end(), data, data + size);
}

void PsDemuxer::dropFrame() {
    m_frameOpen = false;
    m_frameBroken = false;
    m_packSinceFrame = false;
    m_framePts = -1;
    m_frameDts = -1;
    m_frame.clear();
}

void PsDemuxer::finishFrame(FrameSink& sink) {
    if (!m_frameOpen)
        return;
    const bool broken = m_frameBroken;
    Stream& stream = m_streams[size_t(m_frameStream)];
    if (!broken && !stream.named && stream.probed == Codec::Unknown) {
        stream.probed = probeCodec(m_frame.data(), m_frame.size());
        if (stream.probed == Codec::Unknown)
            ++stream.failedProbes;
    }
    const Codec codec = codecOf(m_frameStream);
    AccessUnit unit;
    unit.data = m_frame.data();
    unit.size = m_frame.size();
    unit.codec = codec;
    unit.keyframe = isKeyframe(codec, unit.data, unit.size);
    unit.pts = m_framePts;
    unit.dts = m_frameDts;
    if (broken || unit.size == 0) {
        // counted where it broke; an empty frame is nothing to count
    } else if (codec == Codec::Unknown) {
        ++m_stats.unknownCodec;
    } else if (m_needKey && !unit.keyframe) {
        ++m_stats.waitingForKey;
    } else {
        m_needKey = false;
        ++m_stats.frames;
        sink.onAccessUnit(unit);
    }
    dropFrame();
}

}  // namespace media
