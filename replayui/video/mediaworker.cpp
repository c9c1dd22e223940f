#include "mediaworker.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <chrono>

#include "Logger.h"

namespace video {

namespace {

// While packets wait behind a gap the reading thread wakes this often to give the gap up in time.
constexpr auto kHoldingWake = std::chrono::milliseconds(20);

unsigned long long ull(uint64_t v) {
    return static_cast<unsigned long long>(v);
}

}  // namespace

MediaWorker::MediaWorker(Logger* log, int decoderThreads, std::function<void()> picturesReady)
    : m_log(log),
      m_picturesReady(std::move(picturesReady)),
      m_decoder(decoderThreads),
      m_decodedSink([this](const AVFrame* picture) { onDecoded(picture); }),
      m_readThread([this] { runReader(); }),
      m_scaleThread([this] { runScaler(); }) {}

MediaWorker::~MediaWorker() {
    // The flag is set under each lock so that no thread can miss it between test and wait.
    {
        std::lock_guard<std::mutex> lock(m_inboxMutex);
        m_quit = true;
    }
    m_inboxWake.notify_all();
    { std::lock_guard<std::mutex> lock(m_decodedMutex); }
    m_decodedWake.notify_all();
    m_decodedRoom.notify_all();
    m_readThread.join();
    m_scaleThread.join();
    dropDecoded();
}

void MediaWorker::start(uint32_t generation, int64_t spanStartSeconds) {
    m_liveGeneration = generation;
    Command command;
    command.kind = Kind::Start;
    command.generation = generation;
    command.value = spanStartSeconds;
    post(std::move(command));
}

void MediaWorker::stop(uint32_t generation) {
    m_liveGeneration = generation;
    {
        // Nothing under way for the ended playback is worth finishing.
        std::lock_guard<std::mutex> lock(m_inboxMutex);
        m_inbox.clear();
        m_queuedDatagrams = 0;
        m_queuedBytes = 0;
    }
    dropDecoded();
    {
        std::lock_guard<std::mutex> lock(m_outboxMutex);
        m_outbox.clear();
    }
    Command command;
    command.kind = Kind::Stop;
    command.generation = generation;
    post(std::move(command));
}

bool MediaWorker::pushDatagram(const QByteArray& datagram) {
    Command command;
    command.kind = Kind::Datagram;
    command.bytes = datagram;
    command.generation = m_liveGeneration;
    return post(std::move(command));
}

void MediaWorker::seekSent(int64_t offsetSeconds) {
    Command command;
    command.kind = Kind::Seek;
    command.value = offsetSeconds;
    post(std::move(command));
}

void MediaWorker::setTargetSize(QSize size) {
    std::lock_guard<std::mutex> lock(m_decodedMutex);
    m_box = size;
}

std::vector<WorkerPicture> MediaWorker::takePictures() {
    std::lock_guard<std::mutex> lock(m_outboxMutex);
    std::vector<WorkerPicture> out(std::make_move_iterator(m_outbox.begin()),
                                   std::make_move_iterator(m_outbox.end()));
    m_outbox.clear();
    return out;
}

bool MediaWorker::post(Command&& command) {
    {
        std::lock_guard<std::mutex> lock(m_inboxMutex);
        if (command.kind == Kind::Datagram) {
            const size_t bytes = size_t(command.bytes.size());
            if (m_queuedDatagrams >= kMaxQueuedDatagrams ||
                m_queuedBytes + bytes > kMaxQueuedBytes) {
                ++m_counters.refused;
                return false;
            }
            ++m_queuedDatagrams;
            m_queuedBytes += bytes;
            ++m_counters.datagrams;
        }
        m_inbox.push_back(std::move(command));
    }
    m_inboxWake.notify_one();
    return true;
}

void MediaWorker::runReader() {
    std::unique_lock<std::mutex> lock(m_inboxMutex);
    while (!m_quit) {
        if (m_inbox.empty()) {
            if (m_reader.holding())
                m_inboxWake.wait_for(lock, kHoldingWake);
            else
                m_inboxWake.wait(lock);
        }
        std::deque<Command> batch;
        batch.swap(m_inbox);
        m_queuedDatagrams = 0;
        m_queuedBytes = 0;
        lock.unlock();
        for (Command& command : batch) {
            if (m_quit)
                break;
            handle(command);
        }
        if (m_playing)
            m_reader.expire(nowMs(), *this);
        lock.lock();
    }
    lock.unlock();
    endPlayback();
}

void MediaWorker::handle(Command& command) {
    switch (command.kind) {
        case Kind::Datagram: {
            if (!m_playing || command.generation != m_generation ||
                command.generation != m_liveGeneration)
                return;
            const auto* data = reinterpret_cast<const uint8_t*>(command.bytes.constData());
            const media::RtpError error =
                m_reader.push(data, size_t(command.bytes.size()), nowMs(), *this);
            if (error != media::RtpError::None && error != media::RtpError::Rtcp &&
                firstTime(BadDatagram) && m_log) {
                m_log->printTime2("[media] datagram dropped: %s", media::rtpErrorText(error));
            }
            return;
        }
        case Kind::Start:
            endPlayback();
            beginPlayback(command.generation, command.value);
            return;
        case Kind::Stop:
            endPlayback();
            return;
        case Kind::Seek:
            m_clock.seekSent(command.value);
            return;
    }
}

void MediaWorker::beginPlayback(uint32_t generation, int64_t spanStartSeconds) {
    m_playing = true;
    m_generation = generation;
    m_noted = 0;
    m_picturesBefore = m_counters.pictures.load();
    m_errorsBefore = m_counters.decodeErrors.load();
    m_reader = media::RtpReader();
    m_demuxer = media::PsDemuxer();
    m_clock.start(spanStartSeconds);
    m_decoder.reset();
}

void MediaWorker::endPlayback() {
    if (!m_playing)
        return;
    m_playing = false;
    m_decoder.reset();
    if (!m_log)
        return;
    const media::RtpReader::Stats& rtp = m_reader.stats();
    const media::PsDemuxer::Stats& ps = m_demuxer.stats();
    m_log->printTime2(
        "[media] playback ended: %llu datagrams (%llu malformed), %llu packets lost, %llu "
        "reordered, %llu late; %llu frames, %llu waiting for a keyframe, %llu cut by loss, "
        "%llu oversize, %llu of unknown coding, %llu bad headers, %llu garbage bytes; "
        "%llu pictures, %llu decode errors",
        ull(rtp.received), ull(rtp.malformed), ull(rtp.lost), ull(rtp.reordered), ull(rtp.late),
        ull(ps.frames), ull(ps.waitingForKey), ull(ps.cutByLoss), ull(ps.oversize),
        ull(ps.unknownCodec), ull(ps.badUnits), ull(ps.garbageBytes),
        ull(m_counters.pictures.load() - m_picturesBefore),
        ull(m_counters.decodeErrors.load() - m_errorsBefore));
}

void MediaWorker::onRtpPayload(const media::RtpPacket& packet) {
    m_demuxer.push(packet.payload, packet.payloadSize, packet.marker, *this);
}

void MediaWorker::onRtpLoss(uint32_t count) {
    m_counters.lostPackets += count;
    if (firstTime(Loss) && m_log)
        m_log->printTime2("[media] %u RTP packets lost; waiting for the next keyframe", count);
    m_demuxer.loss();
}

void MediaWorker::onAccessUnit(const media::AccessUnit& unit) {
    ++m_counters.frames;
    if (firstTime(FirstFrame) && m_log) {
        m_log->printTime2("[media] first frame: %s, %zu bytes", media::codecName(unit.codec),
                          unit.size);
    }
    const int64_t tag = m_nextTag++;
    m_inFlight[size_t(tag) % kInFlight] = m_clock.stamp(unit.pts, unit.keyframe);
    if (!m_decoder.decode(unit, tag, m_decodedSink)) {
        ++m_counters.decodeErrors;
        if (firstTime(DecodeError) && m_log)
            m_log->printTime2("[media] decoder: %s", m_decoder.lastError().c_str());
    }
}

// Reading thread: a reference to the picture goes to the scaling thread, waiting while that
// one is a few pictures behind.
void MediaWorker::onDecoded(const AVFrame* picture) {
    const int64_t tag = picture->pts;
    if (tag < 0 || tag >= m_nextTag || m_nextTag - tag > int64_t(kInFlight))
        return;  // not a tag of ours any more
    Decoded decoded;
    decoded.stamp = m_inFlight[size_t(tag) % kInFlight];
    decoded.generation = m_generation;
    decoded.picture = av_frame_clone(picture);
    if (!decoded.picture)
        return;
    std::unique_lock<std::mutex> lock(m_decodedMutex);
    m_decodedRoom.wait(lock, [&] {
        return m_decoded.size() < kMaxDecoded || m_quit || decoded.generation != m_liveGeneration;
    });
    if (m_quit || decoded.generation != m_liveGeneration) {
        av_frame_free(&decoded.picture);
        return;
    }
    m_decoded.push_back(decoded);
    lock.unlock();
    m_decodedWake.notify_one();
}

void MediaWorker::runScaler() {
    std::unique_lock<std::mutex> lock(m_decodedMutex);
    for (;;) {
        m_decodedWake.wait(lock, [&] { return m_quit || !m_decoded.empty(); });
        if (m_quit)
            return;
        Decoded decoded = m_decoded.front();
        m_decoded.pop_front();
        const QSize box = m_box;
        lock.unlock();
        m_decodedRoom.notify_one();
        scaleOne(decoded, box);
        lock.lock();
    }
}

void MediaWorker::scaleOne(Decoded& decoded, QSize box) {
    WorkerPicture out;
    bool scaled = false;
    if (decoded.generation == m_liveGeneration) {
        m_scaler.setTargetSize(box);
        scaled = m_scaler.scale(decoded.picture, out.picture);
        if (!scaled && !m_scaleFailed && m_log) {
            m_log->printTime2("[media] scaler: %s", m_scaler.lastError().c_str());
            m_scaleFailed = true;
        }
    }
    av_frame_free(&decoded.picture);
    if (!scaled)
        return;
    ++m_counters.pictures;
    out.recordingMs = decoded.stamp.recordingMs;
    out.mediaUs = decoded.stamp.mediaUs;
    out.epoch = decoded.stamp.epoch;
    out.generation = decoded.generation;
    bool wasEmpty = false;
    {
        std::lock_guard<std::mutex> lock(m_outboxMutex);
        if (m_outbox.size() >= kMaxPictures)
            m_outbox.pop_front();  // the owner is behind: the newest pictures matter
        wasEmpty = m_outbox.empty();
        m_outbox.push_back(std::move(out));
    }
    if (wasEmpty && m_picturesReady)
        m_picturesReady();
}

void MediaWorker::dropDecoded() {
    {
        std::lock_guard<std::mutex> lock(m_decodedMutex);
        for (Decoded& decoded : m_decoded)
            av_frame_free(&decoded.picture);
        m_decoded.clear();
    }
    m_decodedRoom.notify_all();
}

bool MediaWorker::firstTime(Note note) {
    const bool first = (m_noted & note) == 0;
    m_noted |= note;
    return first;
}

int64_t MediaWorker::nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace video
