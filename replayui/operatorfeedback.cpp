// What the operator is told beside the status label: a notice when a control needs the login,
// the date on the slider's end labels when the recording crosses midnight, and the keys Space
// (play or pause) and Escape (stop) while the form has the focus.
#include <QDateTime>
#include <QFontMetrics>
#include <QKeyEvent>
#include <algorithm>

#include "mainform.h"
#include "sipsession.h"
#include "ui_mainform.h"

namespace {

// Where a label sits while it shows a time of day; a dated text widens it, away from the slider's
// middle: the start label to the right, the end label to the left.
const char kRestingGeometry[] = "restingGeometry";
constexpr int kLabelPadding = 6;

void showEnd(QLabel* label, const QString& text, bool growLeft) {
    const QRect resting = label->property(kRestingGeometry).toRect();
    const int width =
        std::max(resting.width(), label->fontMetrics().horizontalAdvance(text) + kLabelPadding);
    QRect r = resting;
    r.setWidth(width);
    if (growLeft) {
        r.moveRight(resting.right());
    }
    label->setGeometry(r);
    label->setText(text);
}

}  // namespace

void MainForm::initOperatorFeedback() {
    // A click on the form (or the picture) gives it the focus, so that its keys work.
    setFocusPolicy(Qt::ClickFocus);
    for (QLabel* label : {ui->lbStartTime, ui->lbEndTime}) {
        label->setProperty(kRestingGeometry, label->geometry());
    }
}

// The notice of a control pressed before the login. True: it was shown, and the form may be gone.
bool MainForm::refuseUnlessLoggedIn() {
    if (m_session->loggedIn()) {
        return false;
    }
    showNotice(QStringLiteral("尚未登录视频平台，请稍后再试！"));
    return true;
}

void MainForm::showRecordEnds(int64_t start, int64_t end) {
    const QDateTime from = QDateTime::fromSecsSinceEpoch(start);
    const QDateTime to = QDateTime::fromSecsSinceEpoch(end);
    const QString format = from.date() == to.date() ? QStringLiteral("hh:mm:ss")
                                                    : QStringLiteral("yyyy-MM-dd hh:mm:ss");
    showEnd(ui->lbStartTime, from.toString(format), false);
    showEnd(ui->lbEndTime, to.toString(format), true);
}

void MainForm::clearRecordEnds() {
    showEnd(ui->lbStartTime, QStringLiteral("00:00:00"), false);
    showEnd(ui->lbEndTime, QStringLiteral("00:00:00"), true);
}

void MainForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        event->accept();
        if (event->isAutoRepeat()) {
            return;  // a key held down toggles once
        }
        if (m_session->step() == SipSession::REPLAY_PLAYING) {
            on_btnPause_clicked();
        } else {
            on_btnPlay_clicked();
        }
        return;
    }
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        on_btnStop_clicked();
        return;
    }
    QWidget::keyPressEvent(event);
}
