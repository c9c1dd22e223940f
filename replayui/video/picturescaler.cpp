#include "picturescaler.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

namespace video {

namespace {

// Byte order B, G, R, A in memory is QImage's RGB32 on a little-endian machine.
constexpr AVPixelFormat kPictureFormat = AV_PIX_FMT_BGRA;
constexpr AVPixelFormat kResizeFormat = AV_PIX_FMT_YUV420P;
// libswscale's SIMD colour conversion writes whole blocks: up to 32 bytes past the last row.
constexpr size_t kPictureSlack = 64;

// Free buffers kept for the next pictures; the rest go back to the allocator.
constexpr size_t kPooledBuffers = 6;

}  // namespace

// A fresh multi-megabyte buffer for every picture costs more than scaling into it: the allocator
// hands the memory back to the system and every page faults in again.
struct PicturePool {
    std::mutex mutex;
    size_t bytes = 0;  // of every buffer kept
    std::vector<void*> free;

    ~PicturePool() {
        for (void* buffer : free)
            av_free(buffer);
    }
    void* acquire(size_t size) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (size != bytes) {
                for (void* buffer : free)
                    av_free(buffer);
                free.clear();
                bytes = size;
            }
            if (!free.empty()) {
                void* buffer = free.back();
                free.pop_back();
                return buffer;
            }
        }
        return av_malloc(size);
    }
};

namespace {

// What a QImage's cleanup function gets: the buffer and the pool it returns to.
struct Lease {
    std::shared_ptr<PicturePool> pool;
    void* buffer;
    size_t bytes;
};

void returnPicture(void* info) {
    std::unique_ptr<Lease> lease(static_cast<Lease*>(info));
    {
        std::lock_guard<std::mutex> lock(lease->pool->mutex);
        if (lease->bytes == lease->pool->bytes && lease->pool->free.size() < kPooledBuffers) {
            lease->pool->free.push_back(lease->buffer);
            return;
        }
    }
    av_free(lease->buffer);
}

}  // namespace

PictureScaler::PictureScaler() : m_pool(std::make_shared<PicturePool>()) {}

PictureScaler::~PictureScaler() {
    sws_freeContext(m_scaler);
    sws_freeContext(m_converter);
    av_frame_free(&m_resized);
}

QSize PictureScaler::fitted(QSize source, double sampleAspect, QSize box) {
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

// Resizing in YUV and then converting at the final size takes libswscale's SIMD paths; converting
// to RGB while resizing does not, and costs several times as much.
bool PictureScaler::scale(const AVFrame* picture, QImage& out) {
    const AVRational sar = picture->sample_aspect_ratio;
    const double sampleAspect = sar.num > 0 && sar.den > 0 ? av_q2d(sar) : 1.0;
    QSize size = fitted(QSize(picture->width, picture->height), sampleAspect, m_box);
    // FFmpeg 5's SIMD conversion to RGB leaves the last (width % 16) pixels of each row unwritten
    // when that is 1 to 7: whole 8s of width cost under 1 % of the aspect and never a column.
    if (size.width() >= 8)
        size.setWidth(size.width() & ~7);
    if (size.isEmpty())
        return false;
    const AVFrame* source = resized(picture, size);
    if (!source)
        return false;
    m_converter = sws_getCachedContext(m_converter, size.width(), size.height(),
                                       AVPixelFormat(source->format), size.width(), size.height(),
                                       kPictureFormat, SWS_POINT, nullptr, nullptr, nullptr);
    const int stride = size.width() * 4;
    const size_t bytes = size_t(stride) * size_t(size.height()) + kPictureSlack;
    auto* buffer = static_cast<uint8_t*>(m_converter ? m_pool->acquire(bytes) : nullptr);
    if (!buffer) {
        m_lastError = "no memory or no converter for a picture";
        return false;
    }
    uint8_t* planes[4] = {buffer, nullptr, nullptr, nullptr};
    const int strides[4] = {stride, 0, 0, 0};
    sws_scale(m_converter, source->data, source->linesize, 0, size.height(), planes, strides);
    out = QImage(buffer, size.width(), size.height(), stride, QImage::Format_RGB32, returnPicture,
                 new Lease{m_pool, buffer, bytes});
    return true;
}

// The decoded picture at `size`, or the picture itself when it already has that size.
const AVFrame* PictureScaler::resized(const AVFrame* picture, QSize size) {
    if (picture->width == size.width() && picture->height == size.height())
        return picture;
    if (!m_resized || m_resized->width != size.width() || m_resized->height != size.height()) {
        av_frame_free(&m_resized);
        m_resized = av_frame_alloc();
        if (!m_resized)
            return nullptr;
        m_resized->width = size.width();
        m_resized->height = size.height();
        m_resized->format = kResizeFormat;
        if (av_frame_get_buffer(m_resized, 0) < 0) {
            av_frame_free(&m_resized);
            m_lastError = "no memory for a resized picture";
            return nullptr;
        }
    }
    m_scaler = sws_getCachedContext(m_scaler, picture->width, picture->height,
                                    AVPixelFormat(picture->format), size.width(), size.height(),
                                    kResizeFormat, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!m_scaler) {
        m_lastError = "no scaler for this picture format";
        return nullptr;
    }
    sws_scale(m_scaler, picture->data, picture->linesize, 0, picture->height, m_resized->data,
              m_resized->linesize);
    return m_resized;
}

}  // namespace video
