// The record timeline: from the operator's last change of the span to the slider painting the
// recordings of 30 days of one camera, with the demo platform (a process of its own) answering
// over loopback in pages of 4; and the GUI thread's time to paint the slider with them.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include "formtestkit.h"
#include "mainform.h"
#include "recordtimelineslider.h"
#include "sipsession.h"
#include "ui_mainform.h"

using namespace kit;

namespace {

constexpr int64_t kDay = 86400;

// Tells when the slider gets its first paint with a known timeline.
class PaintWatch : public QObject {
public:
    qint64 paintedAt = -1;
    QElapsedTimer* clock = nullptr;
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* slider = qobject_cast<RecordTimelineSlider*>(watched);
        // The paint itself is timed by BM_PaintTimeline: a fraction of a millisecond.
        if (slider != nullptr && event->type() == QEvent::Paint && slider->timeline().known() &&
            paintedAt < 0) {
            paintedAt = clock->nsecsElapsed();
        }
        return false;
    }
};

void BM_SpanToPaintedTimeline(benchmark::State& state) {
    SessionTimings timings = FormRig::quietTimings();
    timings.recordQueryDelayMs = static_cast<int>(state.range(0));
    FormRig rig(timings, true, false);
    // The demo platform takes the scripted platform's port, with the form's camera on its list.
    const quint16 port = rig.platform().port();
    rig.platform().socket().close();
    rig.host().recorder.platform = nullptr;
    QTemporaryDir dir;
    QFile cameras(dir.filePath("cameras.csv"));
    cameras.open(QFile::WriteOnly);
    cameras.write("code,name,online,train,car,type\n" + trainCameraId(1, 1, 1, 1) + ",A,1,1,1,1\n");
    cameras.close();
    QProcess platform;
    platform.start(GBPLAT_PATH,
                   {"--address", "127.0.0.1", "--port", QString::number(port), "--cameras",
                    cameras.fileName(), "--page-size", "4", "--record-days", "30", "--quiet"});
    if (!platform.waitForReadyRead(10000)) {
        state.SkipWithError("the demo platform did not start");
        return;
    }
    rig.create();
    MainForm* form = rig.form();
    form->show();
    Ui::MainForm* ui = form->widgets();
    if (!waitUntil([&] { return form->session()->loggedIn(); }, 10000)) {
        state.SkipWithError("the form did not log in");
        return;
    }
    ui->cbxStation->setCurrentIndex(0);
    ui->cbxzone1->setCurrentIndex(0);
    ui->cbxzone2->setCurrentIndex(1);
    waitUntil([] { return false; }, 1000);  // the catalogue after the login refreshes the lists

    QElapsedTimer clock;
    PaintWatch watch;
    watch.clock = &clock;
    ui->horizontalSlider->installEventFilter(&watch);
    size_t pieces = 0;
    int round = 0;
    for (auto _ : state) {
        // 30 days up to a minute ago, a minute apart each round, so that each is a new span.
        const QDateTime end = QDateTime::currentDateTime().addSecs(-60 * ++round);
        const QDateTime start = end.addSecs(-30 * kDay);
        watch.paintedAt = -1;
        ui->dateEdit_Start->setDate(start.date());
        ui->timeEdit_Start->setTime(start.time());
        ui->dateEdit_End->setDate(end.date());
        clock.start();  // the last change
        ui->timeEdit_End->setTime(end.time());
        if (!waitUntil([&] { return watch.paintedAt >= 0; }, 10000)) {
            state.SkipWithError("the timeline was not painted");
            break;
        }
        state.SetIterationTime(static_cast<double>(watch.paintedAt) / 1e9);
        pieces = ui->horizontalSlider->timeline().pieces().size();
    }
    state.counters["pieces"] = static_cast<double>(pieces);
    ui->horizontalSlider->removeEventFilter(&watch);
    rig.closeForm();
    platform.terminate();
    platform.waitForFinished(5000);
}

// The slider's paint alone, with the 30-day answer and with the most items an answer may hold.
void BM_PaintTimeline(benchmark::State& state) {
    RecordTimelineSlider slider;
    slider.setOrientation(Qt::Horizontal);
    slider.setTickPosition(QSlider::TicksBelow);
    slider.resize(965, 26);
    const int64_t start = 1700000000;
    const int64_t count = state.range(0);
    const int64_t span = 30 * kDay;
    std::vector<recordquery::Segment> recordings;
    for (int64_t i = 0; i < count; ++i) {
        const int64_t a = start + span * i / count;
        recordings.push_back({a, a + span / count * 9 / 10});
    }
    slider.setTimeline(recordquery::Timeline::of(start, start + span, recordings));
    QImage target(slider.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        slider.render(&target);
    }
    state.counters["pieces"] = static_cast<double>(slider.timeline().pieces().size());
}

}  // namespace

BENCHMARK(BM_SpanToPaintedTimeline)
    ->ArgName("delay_ms")
    ->Arg(SessionTimings().recordQueryDelayMs)
    ->Arg(0)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintTimeline)
    ->ArgName("recordings")
    ->Arg(31)
    ->Arg(20000)
    ->Unit(benchmark::kMicrosecond);
