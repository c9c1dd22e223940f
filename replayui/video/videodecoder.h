#pragma once
// H.264 and H.265 frames decoded with FFmpeg's libavcodec. Used on the media worker thread.
#include <cstdint>
#include <functional>
#include <string>

#include "psdemuxer.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace video {

class VideoDecoder {
public:
    // A decoded picture; its pts is the tag of the frame it came from. Valid during the call
    // only (take a reference with av_frame_clone to keep it).
    using PictureSink = std::function<void(const AVFrame* picture)>;

    // `threads`: libavcodec frame threads; 1 decodes on the caller's thread only.
    explicit VideoDecoder(int threads = 1);
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // Decodes one frame. Pictures it finishes (with frame threads or reordering, pictures of
    // earlier frames) go to `sink`. False, with lastError(), when the decoder refused the frame.
    bool decode(const media::AccessUnit& unit, int64_t tag, const PictureSink& sink);
    // Hands out the pictures the decoder still holds; the next frame starts a fresh decode.
    void drain(const PictureSink& sink);
    // Forgets the stream: the next frame opens a new decoder.
    void reset();
    media::Codec codec() const { return m_codec; }
    const std::string& lastError() const { return m_lastError; }

private:
    bool open(media::Codec codec);
    void close();
    void receive(const PictureSink& sink);
    void fail(const char* what, int error);

    int m_threads;
    media::Codec m_codec = media::Codec::Unknown;
    AVCodecContext* m_context = nullptr;
    AVPacket* m_packet = nullptr;
    AVFrame* m_frame = nullptr;
    std::string m_lastError;
};

}  // namespace video
