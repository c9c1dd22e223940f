#pragma once
// The playback slider with the recordings of its span painted in its groove: recorded pieces and
// gaps in two colours, nothing while they are not known. The slider's value keeps its meaning
// (a percentage of the span: value v stands for v % of it), so the painted time under the handle
// is the time a release there seeks to. Setting the value from code repaints as usual.
#include <QColor>
#include <QSlider>
#include <QString>

#include "recordtimeline.h"

class RecordTimelineSlider : public QSlider {
    Q_OBJECT
    // The model as text, for scripts that cannot link against the console: "unknown", or one
    // line per piece, "yyyy-MM-ddTHH:mm:ss yyyy-MM-ddTHH:mm:ss recorded|gap" in local time.
    Q_PROPERTY(QString timeline READ timelineText)
public:
    // Both read well on the form's dark blue and apart from each other, also for the
    // colour-blind (sky blue and orange).
    static const QColor kRecordedColour;
    static const QColor kGapColour;

    explicit RecordTimelineSlider(QWidget* parent = nullptr);

    void setTimeline(const recordquery::Timeline& timeline);
    const recordquery::Timeline& timeline() const { return m_timeline; }
    QString timelineText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void paintTimeline(QPainter& painter, const QRect& groove, int handleLength) const;

    recordquery::Timeline m_timeline;
};
