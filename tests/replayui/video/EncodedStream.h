#pragma once
// Real H.264 and H.265 streams for the decode tests and the benchmark: synthetic pictures (left
// half red, right half blue, a white square moving along the top) encoded with libavcodec's
// libx264 or libx265, then carried as GB/T 28181 program stream in RTP with the test kit.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <stdexcept>
#include <string>
#include <vector>

#include "MediaTestKit.h"

namespace mediatest {

struct EncodedFrame {
    Bytes data;
    int64_t pts;
    bool keyframe;
};

// With `textured`, a detailed scene pans across the picture and every pixel carries sensor
// noise, so the encoder spends a camera's bit rate on it.
inline void paintPicture(AVFrame* f, int index, bool textured) {
    const int w = f->width;
    const int h = f->height;
    uint32_t noise = 0x12345u + uint32_t(index) * 7919u;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int luma = x < w / 2 ? 81 : 41;
            if (textured) {
                const uint32_t u = uint32_t(x + 3 * index) / 6, v = uint32_t(y) / 6;
                luma += int((u * 2654435761u ^ v * 40503u) >> 27);  // 0..31, 6x6 blocks
                noise = noise * 1664525u + 1013904223u;
                luma += int(noise >> 29);  // 0..7
            }
            f->data[0][y * f->linesize[0] + x] = uint8_t(luma);
        }
    }
    for (int y = 0; y < h / 2; ++y) {
        for (int x = 0; x < w / 2; ++x) {
            const bool left = x < w / 4;
            f->data[1][y * f->linesize[1] + x] = left ? 90 : 240;
            f->data[2][y * f->linesize[2] + x] = left ? 240 : 110;
        }
    }
    const int side = h / 8;
    const int x0 = (index * 8) % (w - side);
    for (int y = 0; y < side; ++y) {
        for (int x = x0; x < x0 + side; ++x)
            f->data[0][y * f->linesize[0] + x] = 235;
    }
}

// `count` frames of `width` x `height` at 25 fps, a keyframe every `gop` frames.
inline std::vector<EncodedFrame> encodeFrames(media::Codec codec, int width, int height, int count,
                                              int gop = 25, bool textured = false,
                                              const char* preset = "ultrafast") {
    av_log_set_level(AV_LOG_ERROR);
    const char* name = codec == media::Codec::H265 ? "libx265" : "libx264";
    const AVCodec* encoder = avcodec_find_encoder_by_name(name);
    if (!encoder)
        throw std::runtime_error(std::string("no encoder ") + name);
    AVCodecContext* c = avcodec_alloc_context3(encoder);
    c->width = width;
    c->height = height;
    c->time_base = AVRational{1, 90000};
    c->framerate = AVRational{25, 1};
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->gop_size = gop;
    c->max_b_frames = 0;
    c->bit_rate = int64_t(width) * height * 3;  // 1.5 Mbit/s at 960x540, 6 at 1920x1080
    c->rc_max_rate = c->bit_rate;
    c->rc_buffer_size = int(c->bit_rate);
    av_opt_set(c->priv_data, "preset", preset, 0);
    av_opt_set(c->priv_data, "tune", "zerolatency", 0);
    if (codec == media::Codec::H265)
        av_opt_set(c->priv_data, "x265-params", "log-level=error", 0);
    if (avcodec_open2(c, encoder, nullptr) < 0)
        throw std::runtime_error(std::string("cannot open ") + name);

    AVFrame* frame = av_frame_alloc();
    frame->width = width;
    frame->height = height;
    frame->format = AV_PIX_FMT_YUV420P;
    av_frame_get_buffer(frame, 0);
    AVPacket* packet = av_packet_alloc();
    std::vector<EncodedFrame> out;
    auto collect = [&] {
        while (avcodec_receive_packet(c, packet) == 0) {
            out.push_back({Bytes(packet->data, packet->data + packet->size), packet->pts,
                           (packet->flags & AV_PKT_FLAG_KEY) != 0});
            av_packet_unref(packet);
        }
    };
    for (int i = 0; i < count; ++i) {
        av_frame_make_writable(frame);
        paintPicture(frame, i, textured);
        frame->pts = int64_t(i) * 3600;
        frame->pict_type = i % gop == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        avcodec_send_frame(c, frame);
        collect();
    }
    avcodec_send_frame(c, nullptr);
    collect();
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&c);
    return out;
}

// The frames as GB/T 28181 sends them, one RTP datagram per entry.
inline std::vector<Bytes> gbDatagrams(const std::vector<EncodedFrame>& frames, uint8_t streamType,
                                      Bytes* programStream = nullptr) {
    PsOptions o;
    o.streamType = streamType;
    std::vector<Bytes> out;
    uint16_t seq = 1;
    for (const EncodedFrame& f : frames) {
        const Bytes ps = psFrame(f.data, f.pts, f.keyframe, o);
        if (programStream)
            append(*programStream, ps);
        for (Bytes& d : rtpFrame(ps, seq, uint32_t(f.pts)))
            out.push_back(std::move(d));
    }
    return out;
}

}  // namespace mediatest
