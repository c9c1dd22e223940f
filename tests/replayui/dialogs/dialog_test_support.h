#pragma once
// Helpers shared by the dialog tests: a widget that records the input it receives, and
// desktop-like (spontaneous) input events that reach it through the application.
#include <QApplication>
#include <QMouseEvent>
#include <QSpontaneKeyEvent>
#include <QTimer>
#include <QWheelEvent>
#include <QWidget>

#include <functional>

class InputRecorder : public QWidget {
public:
    InputRecorder() {
        setWindowFlags(Qt::FramelessWindowHint);
        resize(100, 40);
    }
    int leftPresses = 0;
    int rightPresses = 0;
    int middlePresses = 0;
    int leftReleases = 0;
    int wheels = 0;

protected:
    void mousePressEvent(QMouseEvent* e) override {
        switch (e->button()) {
            case Qt::LeftButton:
                leftPresses++;
                break;
            case Qt::RightButton:
                rightPresses++;
                break;
            default:
                middlePresses++;
                break;
        }
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton) {
            leftReleases++;
        }
    }
    void wheelEvent(QWheelEvent*) override { wheels++; }
};

// Shows w as a top-level window whose top-left corner is at desktopPos.
inline void showAt(QWidget* w, const QPoint& desktopPos) {
    w->move(desktopPos);
    w->show();
}

inline void spontaneousWheel(QWidget* w, const QPoint& local) {
    QWheelEvent ev(QPointF(local), QPointF(w->mapToGlobal(local)), QPoint(), QPoint(0, 120),
                   Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QSpontaneKeyEvent::setSpontaneous(&ev);
    qApp->notify(w, &ev);
}

// A pointer move without buttons, as mouse tracking delivers it.
inline void hoverAt(QWidget* w, const QPoint& local) {
    QMouseEvent ev(QEvent::MouseMove, QPointF(local), QPointF(w->mapToGlobal(local)), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
    QSpontaneKeyEvent::setSpontaneous(&ev);
    qApp->notify(w, &ev);
}

// Runs step once the next modal loop has started.
inline void whenModal(std::function<void()> step) {
    QTimer::singleShot(0, std::move(step));
}
