#include "VideoSource.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
}

#include <cmath>
#include <mutex>

namespace gbplat {

namespace {

struct CodecContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FormatClose {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct BsfFree {
    void operator()(AVBSFContext* b) const { av_bsf_free(&b); }
};

std::string avError(int code) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

template <typename T>
std::unique_ptr<T> fail(std::string* why, const std::string& reason) {
    if (why)
        *why = reason;
    return nullptr;
}

// ---- the synthetic recording ---------------------------------------------------------

class SyntheticSource : public VideoSource {
public:
    static std::unique_ptr<VideoSource> open(const SyntheticStream& stream, std::string* why) {
        const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
        if (!codec)
            return fail<VideoSource>(why, "libavcodec has no libx264 encoder");
        std::unique_ptr<SyntheticSource> s(new SyntheticSource(stream));
        s->ctx_.reset(avcodec_alloc_context3(codec));
        AVCodecContext* c = s->ctx_.get();
        c->width = stream.width;
        c->height = stream.height;
        c->pix_fmt = AV_PIX_FMT_YUV420P;
        c->time_base = {1, kSyntheticFps};
        c->framerate = {kSyntheticFps, 1};
        c->gop_size = kSyntheticFps;  // a keyframe every second
        c->max_b_frames = 0;
        c->thread_count = 1;  // one core per stream; several streams share the machine
        av_opt_set(c->priv_data, "preset", "ultrafast", 0);
        av_opt_set(c->priv_data, "tune", "zerolatency", 0);
        av_opt_set(c->priv_data, "forced-idr", "1", 0);
        av_opt_set(c->priv_data, "x264-params", "scenecut=0", 0);
        int rc = avcodec_open2(c, codec, nullptr);
        if (rc < 0)
            return fail<VideoSource>(why, "libx264 does not open: " + avError(rc));
        s->frame_.reset(av_frame_alloc());
        s->packet_.reset(av_packet_alloc());
        s->frame_->format = AV_PIX_FMT_YUV420P;
        s->frame_->width = stream.width;
        s->frame_->height = stream.height;
        if (av_frame_get_buffer(s->frame_.get(), 0) < 0)
            return fail<VideoSource>(why, "no memory for a picture");
        return s;
    }

    uint32_t frameTicks() const override { return 90000 / kSyntheticFps; }
    std::string error() const override { return error_; }

    bool frameAt(double offset, bool keyframe, EncodedFrame& out) override {
        AVFrame* f = frame_.get();
        int rc = av_frame_make_writable(f);
        if (rc < 0)
            return failed("picture not writable: " + avError(rc));
        YuvPicture pic{{f->data[0], f->data[1], f->data[2]},
                       {f->linesize[0], f->linesize[1], f->linesize[2]},
                       f->width,
                       f->height};
        scene_.draw(double(spanStart_) + offset, pic);
        f->pts = encoderPts_++;  // the encoder wants rising times; the stream has its own
        f->pict_type = keyframe ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        rc = avcodec_send_frame(ctx_.get(), f);
        if (rc < 0)
            return failed("encoder refused a picture: " + avError(rc));
        out.data.clear();
        out.keyframe = false;
        out.ptsAfterDts = 0;
        while ((rc = avcodec_receive_packet(ctx_.get(), packet_.get())) == 0) {
            out.data.insert(out.data.end(), packet_->data, packet_->data + packet_->size);
            out.keyframe = out.keyframe || (packet_->flags & AV_PKT_FLAG_KEY);
            av_packet_unref(packet_.get());
        }
        if (rc != AVERROR(EAGAIN))
            return failed("encoder failed: " + avError(rc));
        return !out.data.empty() || failed("encoder gave no frame");
    }

private:
    explicit SyntheticSource(const SyntheticStream& stream)
        : scene_(stream.width, stream.height, stream.font, stream.cameraName, stream.cameraCode,
                 stream.utcOffsetSeconds),
          spanStart_(stream.spanStart) {}
    bool failed(const std::string& why) {
        error_ = why;
        return false;
    }

    Scene scene_;
    int64_t spanStart_;
    std::unique_ptr<AVCodecContext, CodecContextFree> ctx_;
    std::unique_ptr<AVFrame, FrameFree> frame_;
    std::unique_ptr<AVPacket, PacketFree> packet_;
    int64_t encoderPts_ = 0;
    std::string error_;
};

// ---- a file, looped -------------------------------------------------------------------

class FileSource : public VideoSource {
public:
    static std::unique_ptr<VideoSource> open(const std::string& path, std::string* why) {
        std::unique_ptr<FileSource> s(new FileSource);
        AVFormatContext* fmt = nullptr;
        int rc = avformat_open_input(&fmt, path.c_str(), nullptr, nullptr);
        if (rc < 0)
            return fail<VideoSource>(why, "cannot open " + path + ": " + avError(rc));
        s->fmt_.reset(fmt);
        if ((rc = avformat_find_stream_info(fmt, nullptr)) < 0)
            return fail<VideoSource>(why, path + ": no stream information: " + avError(rc));
        int index = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (index < 0 || fmt->streams[index]->codecpar->codec_id != AV_CODEC_ID_H264)
            return fail<VideoSource>(why, path + " has no H.264 video");
        s->index_ = index;
        AVStream* st = fmt->streams[index];
        s->timeBase_ = st->time_base;
        AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
        double fps = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
        s->ticks_ = fps >= 1 && fps <= 240 ? uint32_t(std::lround(90000.0 / fps)) : 3600;
        s->duration_ = fmt->duration > 0 ? double(fmt->duration) / AV_TIME_BASE : 0;
        // MP4-style parameter sets (avcC) become Annex B in front of every keyframe.
        const AVCodecParameters* par = st->codecpar;
        if (par->extradata_size > 0 && par->extradata[0] == 1) {
            const AVBitStreamFilter* filter = av_bsf_get_by_name("h264_mp4toannexb");
            AVBSFContext* bsf = nullptr;
            if (!filter || av_bsf_alloc(filter, &bsf) < 0)
                return fail<VideoSource>(why, "no h264_mp4toannexb filter");
            s->bsf_.reset(bsf);
            avcodec_parameters_copy(bsf->par_in, par);
            bsf->time_base_in = st->time_base;
            if ((rc = av_bsf_init(bsf)) < 0)
                return fail<VideoSource>(why, "h264_mp4toannexb: " + avError(rc));
        }
        s->packet_.reset(av_packet_alloc());
        return s;
    }

    uint32_t frameTicks() const override { return ticks_; }
    std::string error() const override { return error_; }

    bool frameAt(double offset, bool keyframe, EncodedFrame& out) override {
        if (keyframe && !seek(duration_ > 0 ? std::fmod(offset, duration_) : 0))
            return false;
        // A few hundred packets without a keyframe after a seek: the file is not usable.
        for (int tries = 0; tries < 600; ++tries) {
            if (!readPacket())
                return false;
            AVPacket* p = packet_.get();
            bool key = p->flags & AV_PKT_FLAG_KEY;
            if (keyframe && !key) {
                av_packet_unref(p);
                continue;
            }
            out.data.assign(p->data, p->data + p->size);
            out.keyframe = key;
            out.ptsAfterDts = 0;
            if (p->pts != AV_NOPTS_VALUE && p->dts != AV_NOPTS_VALUE && p->pts > p->dts)
                out.ptsAfterDts = av_rescale_q(p->pts - p->dts, timeBase_, {1, 90000});
            av_packet_unref(p);
            return true;
        }
        error_ = "no keyframe in the file";
        return false;
    }

private:
    FileSource() = default;

    bool seek(double seconds) {
        int64_t ts = av_rescale_q(int64_t(seconds * AV_TIME_BASE), {1, AV_TIME_BASE}, timeBase_);
        AVStream* st = fmt_->streams[index_];
        if (st->start_time != AV_NOPTS_VALUE)
            ts += st->start_time;
        int rc = av_seek_frame(fmt_.get(), index_, ts, AVSEEK_FLAG_BACKWARD);
        if (rc < 0 && seconds > 0)
            rc = av_seek_frame(fmt_.get(), index_,
                               st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time,
                               AVSEEK_FLAG_BACKWARD);
        if (rc < 0) {
            error_ = "cannot seek in the file: " + avError(rc);
            return false;
        }
        if (bsf_)
            av_bsf_flush(bsf_.get());
        return true;
    }

    // The next video packet, from the start again at the end of the file.
    bool readPacket() {
        AVPacket* p = packet_.get();
        bool rewound = false;
        for (;;) {
            if (bsf_) {
                int rc = av_bsf_receive_packet(bsf_.get(), p);
                if (rc == 0)
                    return true;
                if (rc != AVERROR(EAGAIN)) {
                    error_ = "h264_mp4toannexb: " + avError(rc);
                    return false;
                }
            }
            int rc = av_read_frame(fmt_.get(), p);
            if (rc == AVERROR_EOF) {
                if (rewound || !seek(0)) {
                    error_ = rewound ? "the file has no video packets" : error_;
                    return false;
                }
                rewound = true;
                continue;
            }
            if (rc < 0) {
                error_ = "cannot read the file: " + avError(rc);
                return false;
            }
            if (p->stream_index != index_) {
                av_packet_unref(p);
                continue;
            }
            rewound = false;
            if (!bsf_)
                return true;
            if (av_bsf_send_packet(bsf_.get(), p) < 0)
                av_packet_unref(p);
        }
    }

    std::unique_ptr<AVFormatContext, FormatClose> fmt_;
    std::unique_ptr<AVBSFContext, BsfFree> bsf_;
    std::unique_ptr<AVPacket, PacketFree> packet_;
    int index_ = -1;
    AVRational timeBase_{1, 90000};
    uint32_t ticks_ = 3600;
    double duration_ = 0;
    std::string error_;
};

}  // namespace

namespace {
// FFmpeg's chatter (encoder profiles, CPU features) would fill the platform's stderr; its
// errors still show, and every failure that matters is reported in the trace.
void quietFfmpeg() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_ERROR); });
}
}  // namespace

std::unique_ptr<VideoSource> openSyntheticSource(const SyntheticStream& stream, std::string* why) {
    quietFfmpeg();
    if (stream.width < 16 || stream.height < 16 || stream.width % 2 || stream.height % 2)
        return fail<VideoSource>(why, "picture size must be even and at least 16x16");
    return SyntheticSource::open(stream, why);
}

std::unique_ptr<VideoSource> openFileSource(const std::string& path, std::string* why) {
    quietFfmpeg();
    return FileSource::open(path, why);
}

}  // namespace gbplat
