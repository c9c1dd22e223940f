#pragma once
// H.264 and H.265 frames decoded with FFmpeg's libavcodec, each picture scaled with libswscale
// into a box (the screen label's size) keeping its aspect, as a QImage ready to paint. Used on
// the media worker thread; not for the GUI thread.
#include <QImage>
#include <QSize>

#include <cstdint>
#include <functional>
#include <string>

#include "psdemuxer.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace video {

class VideoDecoder {
public:
    struct Options {
        int threads = 1;     // libavcodec frame threads; 1 decodes on the caller's thread only
        int scaleFlags = 0;  // libswscale algorithm; 0 takes bilinear
    };
    // A finished picture and the tag of the frame it was decoded from.
    using PictureSink = std::function<void(QImage&& picture, int64_t tag)>;

    VideoDecoder();
    explicit VideoDecoder(Options options);
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // The box pictures are fitted into; an empty size keeps each picture's own size.
    void setTargetSize(QSize box) { m_box = box; }
    // Decodes one frame. Pictures it finishes (with frame threads or reordering, pictures of
    // earlier frames) go to `sink`. False, with lastError(), when the decoder refused the frame.
    bool decode(const media::AccessUnit& unit, int64_t tag, const PictureSink& sink);
    // Hands out the pictures the decoder still holds; the next frame starts a fresh decode.
    void drain(const PictureSink& sink);
    // Forgets the stream: the next frame opens a new decoder.
    void reset();
    media::Codec codec() const { return m_codec; }
    const std::string& lastError() const { return m_lastError; }

    // The largest size inside `box` with the aspect of a `source` picture whose samples are
    // `sampleAspect` wide (1 for square samples).
    static QSize fitted(QSize source, double sampleAspect, QSize box);

private:
    bool open(media::Codec codec);
    void close();
    void receive(const PictureSink& sink);
    bool scale(const AVFrame* frame, QImage& out);
    void fail(const char* what, int error);

    Options m_options;
    QSize m_box;
    media::Codec m_codec = media::Codec::Unknown;
    AVCodecContext* m_context = nullptr;
    AVPacket* m_packet = nullptr;
    AVFrame* m_frame = nullptr;
    SwsContext* m_scaler = nullptr;
    std::string m_lastError;
};

}  // namespace video
