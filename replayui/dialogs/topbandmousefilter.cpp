#include "topbandmousefilter.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QWheelEvent>

#include <utility>

namespace {

// The button events a low-level hook sees as button down/up; a double click is a second down.
const QEvent::Type kButtonEvents[] = {
    QEvent::MouseButtonPress,
    QEvent::MouseButtonRelease,
    QEvent::MouseButtonDblClick,
    QEvent::NonClientAreaMouseButtonPress,
    QEvent::NonClientAreaMouseButtonRelease,
    QEvent::NonClientAreaMouseButtonDblClick,
};

bool isButtonEvent(QEvent::Type type) {
    for (QEvent::Type t : kButtonEvents) {
        if (t == type) {
            return true;
        }
    }
    return false;
}

bool inTopBand(int globalY) {
    return globalY < TopBandMouseFilter::kBandHeight;
}

}  // namespace

TopBandMouseFilter::TopBandMouseFilter(std::function<bool()> leftButtonPasses)
    : m_leftButtonPasses(std::move(leftButtonPasses)) {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        app->installEventFilter(this);
    }
}

TopBandMouseFilter::~TopBandMouseFilter() {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        app->removeEventFilter(this);
    }
}

bool TopBandMouseFilter::swallows(const QEvent* event) const {
    // Only desktop input counts, as for a hook; events the program sends itself pass.
    if (!event->spontaneous()) {
        return false;
    }
    if (event->type() == QEvent::Wheel) {
        const auto* wheel = static_cast<const QWheelEvent*>(event);
        return inTopBand(qRound(wheel->globalPosition().y()));
    }
    if (!isButtonEvent(event->type())) {
        return false;
    }
    const auto* mouse = static_cast<const QMouseEvent*>(event);
    const Qt::MouseButton button = mouse->button();
    if (button != Qt::LeftButton && button != Qt::RightButton) {
        return false;
    }
    if (button == Qt::LeftButton && m_leftButtonPasses && m_leftButtonPasses()) {
        return false;
    }
    return inTopBand(mouse->globalPos().y());
}

bool TopBandMouseFilter::eventFilter(QObject* watched, QEvent* event) {
    if (swallows(event)) {
        return true;
    }
    return QObject::eventFilter(watched, event);
}
