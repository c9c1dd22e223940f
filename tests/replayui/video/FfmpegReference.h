#pragma once
// FFmpeg's own way through a program stream held in memory: libavformat's mpeg demuxer (with its
// H.264/H.265 parser) feeding libavcodec. The reference the tests and the benchmark hold the
// console's media path against.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "MediaTestKit.h"

namespace mediatest {

struct MemoryReader {
    const Bytes* bytes;
    size_t pos = 0;
    static int read(void* opaque, uint8_t* buffer, int size) {
        auto* self = static_cast<MemoryReader*>(opaque);
        const size_t n = std::min(size_t(size), self->bytes->size() - self->pos);
        if (n == 0)
            return AVERROR_EOF;
        std::memcpy(buffer, self->bytes->data() + self->pos, n);
        self->pos += n;
        return int(n);
    }
};

// Decodes every video frame of `ps`; `onPicture` sees each picture, `packetPts` collects the
// PTS of the packets the demuxer hands on. Returns the number of pictures, or -1.
inline int ffmpegDecode(const Bytes& ps, int threads,
                        const std::function<void(const AVFrame*)>& onPicture = nullptr,
                        std::vector<int64_t>* packetPts = nullptr) {
    MemoryReader reader{&ps};
    const int bufferSize = 32768;
    auto* buffer = static_cast<uint8_t*>(av_malloc(bufferSize));
    AVIOContext* io =
        avio_alloc_context(buffer, bufferSize, 0, &reader, &MemoryReader::read, nullptr, nullptr);
    AVFormatContext* format = avformat_alloc_context();
    format->pb = io;
    int pictures = -1;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto receive = [&] {
        while (avcodec_receive_frame(codec, frame) == 0) {
            ++pictures;
            if (onPicture)
                onPicture(frame);
            av_frame_unref(frame);
        }
    };
    if (avformat_open_input(&format, nullptr, av_find_input_format("mpeg"), nullptr) == 0) {
        pictures = 0;
        while (av_read_frame(format, packet) >= 0) {
            const AVStream* stream = format->streams[packet->stream_index];
            if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
                if (!codec) {
                    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
                    codec = avcodec_alloc_context3(decoder);
                    codec->thread_count = threads;
                    codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
                    avcodec_open2(codec, decoder, nullptr);
                }
                if (packetPts)
                    packetPts->push_back(packet->pts);
                avcodec_send_packet(codec, packet);
                receive();
            }
            av_packet_unref(packet);
        }
        if (codec) {
            avcodec_send_packet(codec, nullptr);
            receive();
        }
    }
    avcodec_free_context(&codec);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avformat_close_input(&format);
    av_freep(&io->buffer);
    avio_context_free(&io);
    return pictures;
}

}  // namespace mediatest
