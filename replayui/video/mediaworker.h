#pragma once
// The two threads behind a media pipeline. The reading thread takes commands and datagrams in
// arrival order from a bounded queue through the RTP reader, the program-stream demuxer, the
// recording clock and the decoder; the scaling thread turns the decoded pictures into QImages of
// the label's size, so decoding the next frame and scaling the last one overlap. Finished
// pictures wait in a bounded outbox for the owning thread.
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

#include "picturescaler.h"
#include "psdemuxer.h"
#include "recordingclock.h"
#include "rtpreader.h"
#include "videodecoder.h"

class Logger;
struct AVFrame;

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
    static constexpr size_t kMaxDecoded = 3;  // pictures waiting for the scaling thread
    static constexpr size_t kMaxPictures = 4;

    // `picturesReady` is called on the scaling thread when the outbox was empty and is not.
    MediaWorker(Logger* log, int decoderThreads, std::function<void()> picturesReady);
    ~MediaWorker();
    MediaWorker(const MediaWorker&) = delete;
    MediaWorker& operator=(const MediaWorker&) = delete;

    // Every call below is cheap and comes from one thread (the owner's). `generation` names the
    // playback; whatever is under way for another one is dropped.
    void start(uint32_t generation, int64_t spanStartSeconds);
    void stop(uint32_t generation);
    bool pushDatagram(const QByteArray& datagram);
    void seekSent(int64_t offsetSeconds);
    void setTargetSize(QSize size);
    std::vector<WorkerPicture> takePictures();
    const WorkerCounters& counters() const { return m_counters; }

private:
    enum class Kind { Datagram, Start, Stop, Seek };
    struct Command {
        Kind kind = Kind::Datagram;
        QByteArray bytes;
        int64_t value = 0;
        uint32_t generation = 0;
    };
    struct Decoded {
        AVFrame* picture = nullptr;
        media::RecordingClock::Stamp stamp;
        uint32_t generation = 0;
    };
    // Stamps of the frames in the decoder, found again by their tag.
    static constexpr size_t kInFlight = 64;
    enum Note : unsigned { BadDatagram = 1, Loss = 2, DecodeError = 4, FirstFrame = 8 };

    bool post(Command&& command);
    void runReader();
    void handle(Command& command);
    void beginPlayback(uint32_t generation, int64_t spanStartSeconds);
    void endPlayback();
    void onRtpPayload(const media::RtpPacket& packet) override;
    void onRtpLoss(uint32_t count) override;
    void onAccessUnit(const media::AccessUnit& unit) override;
    void onDecoded(const AVFrame* picture);
    void runScaler();
    void scaleOne(Decoded& decoded, QSize box);
    void dropDecoded();
    bool firstTime(Note note);
    static int64_t nowMs();

    Logger* m_log;
    std::function<void()> m_picturesReady;
    WorkerCounters m_counters;
    std::atomic<uint32_t> m_liveGeneration{0};
    std::atomic<bool> m_quit{false};

    // Commands and datagrams for the reading thread.
    std::mutex m_inboxMutex;
    std::condition_variable m_inboxWake;
    std::deque<Command> m_inbox;
    size_t m_queuedDatagrams = 0;
    size_t m_queuedBytes = 0;

    // Decoded pictures for the scaling thread, and the box they go into.
    std::mutex m_decodedMutex;
    std::condition_variable m_decodedWake;
    std::condition_variable m_decodedRoom;
    std::deque<Decoded> m_decoded;
    QSize m_box;

    // Finished pictures for the owner.
    std::mutex m_outboxMutex;
    std::deque<WorkerPicture> m_outbox;

    // Reading thread only.
    bool m_playing = false;
    uint32_t m_generation = 0;
    unsigned m_noted = 0;
    uint64_t m_picturesBefore = 0;  // counters when the playback began
    uint64_t m_errorsBefore = 0;
    media::RtpReader m_reader;
    media::PsDemuxer m_demuxer;
    media::RecordingClock m_clock;
    VideoDecoder m_decoder;
    VideoDecoder::PictureSink m_decodedSink;
    int64_t m_nextTag = 0;
    std::array<media::RecordingClock::Stamp, kInFlight> m_inFlight{};

    // Scaling thread only.
    PictureScaler m_scaler;
    bool m_scaleFailed = false;

    // Last: they start once everything above exists.
    std::thread m_readThread;
    std::thread m_scaleThread;
};

}  // namespace video
