#include "myconsolelabel.h"

#include <QMouseEvent>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Bound indices: outer ring, inner ring, and the angle limits each ring uses.
enum Bound {
    kOuterMin = 0,
    kOuterMax = 1,
    kInnerMin = 2,
    kInnerMax = 3,
    kOuterUpperHalf = 5,
    kOuterLowerLeft = 7,
    kOuterUpperRight = 9,
    kUpMin = 12,
    kUpMax = 13,
    kDownMax = 14,
    kDownMin = 15,
    kRightBelow = 16,
    kRightAbove = 17,
    kLeftMin = 18,
    kLeftMax = 19,
};

const double kPi = 3.1415926;

double distance(const QPointF& a, const QPointF& b) {
    const double dx = b.x() - a.x();
    const double dy = b.y() - a.y();
    return std::sqrt(dx * dx + dy * dy);
}

}  // namespace

MyConsoleLabel::MyConsoleLabel(QWidget* parent) : QLabel(parent) {
    qRegisterMetaType<ConsoleOrient>("ConsoleOrient");
}

void MyConsoleLabel::setCentre(const QPointF& centre) {
    m_centre = centre;
}

void MyConsoleLabel::setBounds(const double (&bounds)[kBoundCount]) {
    std::copy(std::begin(bounds), std::end(bounds), m_bounds.begin());
}

void MyConsoleLabel::setBounds(const Bounds& bounds) {
    m_bounds = bounds;
}

double MyConsoleLabel::angleOf(const QPointF& centre, const QPointF& p) {
    const double d = distance(centre, p);
    // The centre itself has no direction; 0 keeps the arithmetic away from 0/0.
    if (d <= 0.0) {
        return 0.0;
    }
    const double s = std::min(1.0, std::fabs(p.y() - centre.y()) / d);
    const double alpha = std::asin(s) * 180.0 / kPi;
    const bool right = p.x() >= centre.x();
    if (p.y() <= centre.y()) {
        return right ? alpha : 180.0 - alpha;
    }
    return right ? 360.0 - alpha : 180.0 + alpha;
}

ConsoleOrient MyConsoleLabel::orientAt(const QPointF& p) const {
    const Bounds& b = m_bounds;
    const double d = distance(m_centre, p);
    const double a = angleOf(m_centre, p);
    if (b[kOuterMin] < d && d < b[kOuterMax]) {
        // On an axis the outer ring has no diagonal to offer.
        if (static_cast<long>(a) % 90 == 0) {
            return ConsoleNone;
        }
        if (a < b[kOuterUpperHalf]) {
            return a < b[kOuterUpperRight] ? ConsoleUpRight : ConsoleUpLeft;
        }
        return a < b[kOuterLowerLeft] ? ConsoleDownLeft : ConsoleDownRight;
    }
    if (b[kInnerMin] < d && d < b[kInnerMax]) {
        if (a < b[kRightBelow] || a > b[kRightAbove]) {
            return ConsoleRight;
        }
        if (b[kDownMin] < a && a < b[kDownMax]) {
            return ConsoleDown;
        }
        if (b[kUpMin] < a && a < b[kUpMax]) {
            return ConsoleUp;
        }
        if (b[kLeftMin] < a && a < b[kLeftMax]) {
            return ConsoleLeft;
        }
    }
    return ConsoleNone;
}

void MyConsoleLabel::mousePressEvent(QMouseEvent* event) {
    report(event, 1);
}

void MyConsoleLabel::mouseReleaseEvent(QMouseEvent* event) {
    report(event, 0);
}

void MyConsoleLabel::report(QMouseEvent* event, int pressed) {
    if (event->buttons() & Qt::RightButton) {
        return;
    }
    emit clicked(orientAt(event->localPos()), pressed);
}
