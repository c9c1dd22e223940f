#pragma once
// A decoded picture scaled with libswscale into a box (the screen label's size) keeping its
// aspect, as a QImage ready to paint. Used on a media thread; not for the GUI thread.
#include <QImage>
#include <QSize>

#include <memory>
#include <string>

struct AVFrame;
struct SwsContext;

namespace video {

struct PicturePool;

class PictureScaler {
public:
    PictureScaler();
    ~PictureScaler();
    PictureScaler(const PictureScaler&) = delete;
    PictureScaler& operator=(const PictureScaler&) = delete;

    // The box pictures are fitted into; an empty size keeps each picture's own size.
    void setTargetSize(QSize box) { m_box = box; }
    QSize targetSize() const { return m_box; }
    // False, with lastError(), when the picture cannot be scaled.
    bool scale(const AVFrame* picture, QImage& out);
    const std::string& lastError() const { return m_lastError; }

    // The largest size inside `box` with the aspect of a `source` picture whose samples are
    // `sampleAspect` wide (1 for square samples).
    static QSize fitted(QSize source, double sampleAspect, QSize box);

private:
    const AVFrame* resized(const AVFrame* picture, QSize size);

    QSize m_box;
    SwsContext* m_scaler = nullptr;     // decoded picture to the box size, in YUV
    SwsContext* m_converter = nullptr;  // YUV to RGB at the same size
    AVFrame* m_resized = nullptr;
    // Pixel buffers of pictures given out come back here when their last QImage goes.
    std::shared_ptr<PicturePool> m_pool;
    std::string m_lastError;
};

}  // namespace video
