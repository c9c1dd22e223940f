#pragma once
// One fuzz input drives the whole pure media path: RTP reader, program-stream demuxer, recording
// clock and presentation schedule. An input is a list of records, kind (1 byte), length (2 bytes,
// big-endian) and that many bytes:
//   kind % 4 == 0  an RTP datagram; the clock moves on by (kind / 4) * 5 ms first
//   kind % 4 == 1  a program-stream payload straight to the demuxer; bit 2 is its marker
//   kind % 4 == 2  a loss reported to the demuxer
//   kind % 4 == 3  a seek to `length` seconds sent
#include <cstddef>
#include <cstdint>
#include <vector>

#include "presentationscheduler.h"
#include "psdemuxer.h"
#include "recordingclock.h"
#include "rtpreader.h"

namespace mediafuzz {

struct Run : media::RtpSink, media::FrameSink {
    media::RtpReader reader;
    media::PsDemuxer demuxer;
    media::RecordingClock clock;
    media::PresentationScheduler<uint64_t> scheduler;
    int64_t nowMs = 0;
    uint64_t frames = 0;
    uint64_t checksum = 0;

    void onRtpPayload(const media::RtpPacket& p) override {
        demuxer.push(p.payload, p.payloadSize, p.marker, *this);
    }
    void onRtpLoss(uint32_t) override { demuxer.loss(); }
    void onAccessUnit(const media::AccessUnit& u) override {
        if (u.size == 0 || u.size > media::PsDemuxer::kMaxFrameBytes)
            __builtin_trap();
        checksum += u.data[0] + u.data[u.size - 1];  // every byte handed on must be readable
        const media::RecordingClock::Stamp stamp = clock.stamp(u.pts, u.keyframe);
        scheduler.push(frames++, stamp.mediaUs, stamp.epoch, nowMs * 1000);
        uint64_t shown = 0;
        scheduler.take(nowMs * 1000, shown);
    }
};

inline void runInput(const uint8_t* data, size_t size) {
    Run run;
    run.clock.start(1700000000);
    size_t pos = 0;
    while (pos + 3 <= size) {
        const uint8_t kind = data[pos];
        const size_t length = size_t(data[pos + 1]) << 8 | data[pos + 2];
        pos += 3;
        const size_t n = length < size - pos ? length : size - pos;
        const uint8_t* bytes = data + pos;
        switch (kind % 4) {
            case 0:
                run.nowMs += (kind / 4) * 5;
                run.reader.push(bytes, n, run.nowMs, run);
                break;
            case 1:
                run.demuxer.push(bytes, n, (kind & 4) != 0, run);
                break;
            case 2:
                run.demuxer.loss();
                break;
            case 3:
                run.clock.seekSent(int64_t(length));
                break;
        }
        pos += kind % 4 <= 1 ? n : 0;
    }
    run.reader.expire(run.nowMs + 1000, run);
}

// Builds one record of an input.
inline std::vector<uint8_t> record(uint8_t kind, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> out = {kind, uint8_t(bytes.size() >> 8), uint8_t(bytes.size())};
    out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

}  // namespace mediafuzz
