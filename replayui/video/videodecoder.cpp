#include "videodecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
}

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

}  // namespace

VideoDecoder::VideoDecoder(int threads)
    : m_threads(threads), m_packet(av_packet_alloc()), m_frame(av_frame_alloc()) {}

VideoDecoder::~VideoDecoder() {
    close();
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
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
    m_context->thread_count = m_threads;
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
        sink(m_frame);
        av_frame_unref(m_frame);
    }
}

void VideoDecoder::fail(const char* what, int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof(text));
    m_lastError = std::string(what) + ": " + text;
}

}  // namespace video
