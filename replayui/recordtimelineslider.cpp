#include "recordtimelineslider.h"

#include <QDateTime>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>
#include <algorithm>
#include <cmath>

const QColor RecordTimelineSlider::kRecordedColour(86, 180, 233);
const QColor RecordTimelineSlider::kGapColour(230, 159, 0);

namespace {

// Height of the painted band: at least this, centred on the groove, so that it reads even where
// the style draws a hairline groove.
constexpr int kBandHeight = 8;

QString localText(int64_t seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
}

}  // namespace

RecordTimelineSlider::RecordTimelineSlider(QWidget* parent) : QSlider(parent) {}

void RecordTimelineSlider::setTimeline(const recordquery::Timeline& timeline) {
    m_timeline = timeline;
    update();
}

QString RecordTimelineSlider::timelineText() const {
    if (!m_timeline.known()) {
        return QStringLiteral("unknown");
    }
    QStringList lines;
    for (const recordquery::TimelinePiece& p : m_timeline.pieces()) {
        lines << QStringLiteral("%1 %2 %3")
                     .arg(localText(p.start), localText(p.end),
                          p.recorded ? QStringLiteral("recorded") : QStringLiteral("gap"));
    }
    return lines.join(QLatin1Char('\n'));
}

void RecordTimelineSlider::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    QStyleOptionSlider option;
    initStyleOption(&option);
    if (isSliderDown()) {
        option.activeSubControls = QStyle::SC_SliderHandle;
        option.state |= QStyle::State_Sunken;
    }
    option.subControls = QStyle::SC_SliderGroove;
    style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
    if (m_timeline.known() && orientation() == Qt::Horizontal) {
        const QRect groove =
            style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
        const QRect handle =
            style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
        paintTimeline(painter, groove, handle.width());
    }
    // Tick marks and the handle over the band.
    option.subControls = QStyle::SC_SliderHandle;
    if (tickPosition() != NoTicks) {
        option.subControls |= QStyle::SC_SliderTickmarks;
    }
    style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
}

// Time maps to pixels as the handle does: its centre at value v stands for v / (range + 1) of the
// span, so the span's end lies one step beyond the maximum. Gaps make the ground; each recording
// gets at least one pixel, so that a short one in a long gap still shows.
void RecordTimelineSlider::paintTimeline(QPainter& painter, const QRect& groove,
                                         int handleLength) const {
    const auto& pieces = m_timeline.pieces();
    if (pieces.empty()) {
        return;
    }
    const int64_t spanStart = pieces.front().start;
    const double span = double(pieces.back().end - spanStart);
    const double steps = double(maximum() - minimum());
    const double track = double(groove.width() - handleLength);
    if (span <= 0 || steps <= 0 || track <= 0) {
        return;
    }
    const double scale = track * (steps + 1) / steps / span;
    const double origin = groove.left() + handleLength / 2.0;
    const int right = groove.right() + 1;
    auto xOf = [&](int64_t t) {
        return std::clamp(int(std::lround(origin + double(t - spanStart) * scale)), groove.left(),
                          right);
    };
    const int height = std::max(kBandHeight, groove.height());
    const int top = groove.center().y() - height / 2 + 1;
    const int left = xOf(spanStart);
    painter.fillRect(QRect(left, top, xOf(pieces.back().end) - left, height), kGapColour);
    // Neighbouring recordings that meet within a pixel are filled as one rectangle.
    int runStart = -1, runEnd = -1;
    for (const recordquery::TimelinePiece& p : pieces) {
        if (!p.recorded) {
            continue;
        }
        const int x0 = xOf(p.start);
        const int x1 = std::max(xOf(p.end), x0 + 1);
        if (x0 > runEnd) {
            if (runEnd > runStart) {
                painter.fillRect(QRect(runStart, top, runEnd - runStart, height), kRecordedColour);
            }
            runStart = x0;
        }
        runEnd = std::max(runEnd, x1);
    }
    if (runEnd > runStart) {
        painter.fillRect(QRect(runStart, top, runEnd - runStart, height), kRecordedColour);
    }
}
