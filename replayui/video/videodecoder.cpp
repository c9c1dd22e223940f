#include "videodecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <cmath>

namespace video {

namespace {

AVCodecID codecId(media::Codec codec) {
    switch (codec) {
        case media::Codec::H264:
            return AV_CODEC_ID_H264;
        case media::Codec::H265:
            return AV_CODEC_ID_HEVC;
        case media::Codec::Unknown:
            break;
    }
    return AV_CODEC_ID_NONE;
}

// Byte order B, G, R, A in memory is QImage's RGB32 on a little-endian machine.
constexpr AVPixelFormat kPictureFormat = AV_PIX_FMT_BGRA;

}  // namespace

VideoDecoder::VideoDecoder() : VideoDecoder(Options()) {}

VideoDecoder::VideoDecoder(Options options)
    : m_options(options), m_packet(av_packet_alloc()), m_frame(av_frame_alloc()) {
    if (m_options.scaleFlags == 0)
        m_options.scaleFlags = SWS_BILINEAR;
}

VideoDecoder::~VideoDecoder() {
    close();
    sws_freeContext(m_scaler);
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
}

QSize VideoDecoder::fitted(QSize source, double sampleAspect, QSize box) {
    if (source.isEmpty())
        return QSize();
    if (!(sampleAspect > 0) || !std::isfinite(sampleAspect))
        sampleAspect = 1.0;
    if (box.isEmpty())
        return source;
    const double aspect = source.width() * sampleAspect / source.height();
    if (box.width() >= box.height() * aspect) {
        const int width = std::max(1, int(std::lround(box.height() * aspect)));
        return QSize(std::min(width, box.width()), box.height());
    }
    const int height = std::max(1, int(std::lround(box.width() / aspect)));
    return QSize(box.width(), std::min(height, box.height()));
}

bool VideoDecoder::open(media::Codec codec) {
    const AVCodec* decoder = avcodec_find_decoder(codecId(codec));
    if (!decoder) {
        m_lastError = std::string("no FFmpeg decoder for ") + media::codecName(codec);
        return false;
    }
    m_context = avcodec_alloc_context3(decoder);
    if (!m_context) {
        m_lastError = "out of memory for the decoder";
        return false;
    }
    m_context->thread_count = m_options.threads;
    m_context->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    const int error = avcodec_open2(m_context, decoder, nullptr);
    if (error < 0) {
        fail("opening the decoder", error);
        avcodec_free_context(&m_context);
        return false;
    }
    m_codec = codec;
    return true;
}

void VideoDecoder::close() {
    avcodec_free_context(&m_context);
    m_codec = media::Codec::Unknown;
}

void VideoDecoder::reset() {
    close();
}

bool VideoDecoder::decode(const media::AccessUnit& unit, int64_t tag, const PictureSink& sink) {
    if (unit.codec != m_codec || !m_context) {
        drain(sink);
        close();
        if (!open(unit.codec))
            return false;
    }
    // Not reference-counted: libavcodec copies the bytes (with its padding) before it returns.
    m_packet->data = const_cast<uint8_t*>(unit.data);
    m_packet->size = int(unit.size);
    m_packet->pts = tag;
    m_packet->dts = AV_NOPTS_VALUE;
    m_packet->flags = unit.keyframe ? AV_PKT_FLAG_KEY : 0;
    int error = avcodec_send_packet(m_context, m_packet);
    if (error == AVERROR(EAGAIN)) {
        receive(sink);
        error = avcodec_send_packet(m_context, m_packet);
    }
    m_packet->data = nullptr;
    m_packet->size = 0;
    receive(sink);
    if (error < 0) {
        fail("decoding a frame", error);
        return false;
    }
    return true;
}

void VideoDecoder::drain(const PictureSink& sink) {
    if (!m_context)
        return;
    if (avcodec_send_packet(m_context, nullptr) >= 0)
        receive(sink);
    avcodec_flush_buffers(m_context);
}

void VideoDecoder::receive(const PictureSink& sink) {
    for (;;) {
        const int error = avcodec_receive_frame(m_context, m_frame);
        if (error < 0) {
            if (error != AVERROR(EAGAIN) && error != AVERROR_EOF)
                fail("receiving a picture", error);
            return;
        }
        QImage picture;
        const int64_t tag = m_frame->pts;
        if (scale(m_frame, picture))
            sink(std::move(picture), tag);
        av_frame_unref(m_frame);
    }
}

bool VideoDecoder::scale(const AVFrame* frame, QImage& out) {
    const QSize source(frame->width, frame->height);
    const AVRational sar = frame->sample_aspect_ratio;
    const double sampleAspect = sar.num > 0 && sar.den > 0 ? av_q2d(sar) : 1.0;
    const QSize size = fitted(source, sampleAspect, m_box);
    if (size.isEmpty())
        return false;
    m_scaler = sws_getCachedContext(
        m_scaler, frame->width, frame->height, AVPixelFormat(frame->format), size.width(),
        size.height(), kPictureFormat, m_options.scaleFlags, nullptr, nullptr, nullptr);
    if (!m_scaler) {
        m_lastError = "no scaler for this picture format";
        return false;
    }
    out = QImage(size, QImage::Format_RGB32);
    if (out.isNull()) {
        m_lastError = "out of memory for a picture";
        return false;
    }
    uint8_t* planes[4] = {out.bits(), nullptr, nullptr, nullptr};
    const int strides[4] = {int(out.bytesPerLine()), 0, 0, 0};
    sws_scale(m_scaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
    return true;
}

void VideoDecoder::fail(const char* what, int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof(text));
    m_lastError = std::string(what) + ": " + text;
}

}  // namespace video
