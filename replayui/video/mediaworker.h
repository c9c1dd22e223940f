#pragma once
// The worker thread of a media pipeline: RTP reader, program-stream demuxer, recording clock,
// decoder and scaler, fed through a bounded queue of commands and datagrams in arrival order.
// Finished pictures wait in a bounded outbox for the owning thread.
#include <QByteArray>
#include <QImage>
#include <QSize>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "psdemuxer.h"
#include "recordingclock.h"
#include "rtpreader.h"
#include "videodecoder.h"

class Logger;

namespace video {

struct WorkerPicture {
    QImage picture;
    int64_t recordingMs = 0;
    int64_t mediaUs = 0;
    uint32_t epoch = 0;
    uint32_t generation = 0;  // the playback it belongs to
};

struct WorkerCounters {
    std::atomic<uint64_t> datagrams{0};
    std::atomic<uint64_t> refused{0};
    std::atomic<uint64_t> lostPackets{0};
    std::atomic<uint64_t> frames{0};
    std::atomic<uint64_t> decodeErrors{0};
    std::atomic<uint64_t> pictures{0};
};

class MediaWorker : private media::RtpSink, private media::FrameSink {
public:
    static constexpr size_t kMaxQueuedDatagrams = 2048;
    static constexpr size_t kMaxQueuedBytes = size_t(8) << 20;
    static constexpr size_t kMaxPictures = 4;

    // `picturesReady` is called on the worker thread when the outbox was empty and is not.
    MediaWorker(Logger* log, int decoderThreads, std::function<void()> picturesReady);
    ~MediaWorker();
    MediaWorker(const MediaWorker&) = delete;
    MediaWorker& operator=(const MediaWorker&) = delete;

    // Every call below is cheap and may come from any one thread.
    void start(uint32_t generation, int64_t spanStartSeconds);
    void stop();
    bool pushDatagram(const QByteArray& datagram);
    void seekSent(int64_t offsetSeconds);
    void setTargetSize(QSize size);
    std::vector<WorkerPicture> takePictures();
    const WorkerCounters& counters() const { return m_counters; }

private:
    enum class Kind { Datagram, Start, Stop, Seek, TargetSize };
    struct Command {
        Kind kind = Kind::Datagram;
        QByteArray bytes;
        int64_t value = 0;
        uint32_t generation = 0;
        QSize size;
    };
    // A frame on its way through the decoder, found again by its tag.
    struct InFlight {
        media::RecordingClock::Stamp stamp;
    };
    static constexpr size_t kInFlight = 64;
    enum Note : unsigned { BadDatagram = 1, Loss = 2, DecodeError = 4, FirstFrame = 8 };

    bool post(Command&& command);
    void run();
    void handle(Command& command);
    void beginPlayback(uint32_t generation, int64_t spanStartSeconds);
    void endPlayback();
    void onRtpPayload(const media::RtpPacket& packet) override;
    void onRtpLoss(uint32_t count) override;
    void onAccessUnit(const media::AccessUnit& unit) override;
    void onPicture(QImage&& picture, int64_t tag);
    bool firstTime(Note note);
    static int64_t nowMs();

    Logger* m_log;
    std::function<void()> m_picturesReady;
    WorkerCounters m_counters;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Command> m_inbox;
    size_t m_queuedDatagrams = 0;
    size_t m_queuedBytes = 0;
    std::deque<WorkerPicture> m_outbox;
    bool m_quit = false;

    // Worker thread only.
    bool m_playing = false;
    uint32_t m_generation = 0;
    unsigned m_noted = 0;
    uint64_t m_picturesBefore = 0;  // counters when the playback began
    uint64_t m_errorsBefore = 0;
    media::RtpReader m_reader;
    media::PsDemuxer m_demuxer;
    media::RecordingClock m_clock;
    VideoDecoder m_decoder;
    VideoDecoder::PictureSink m_pictureSink;
    int64_t m_nextTag = 0;
    std::array<InFlight, kInFlight> m_inFlight{};

    std::thread m_thread;  // last: starts once everything above exists
};

}  // namespace video
