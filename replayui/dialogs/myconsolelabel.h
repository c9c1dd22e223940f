#pragma once
// A circular direction console: a press or release becomes a direction code by the pointer's
// distance and angle from the centre. The owner supplies the centre and the 20 bounds.
#include <QLabel>
#include <QMetaType>
#include <QPointF>
#include <array>

// 0: no direction. Inner ring: 1 up, 2 right, 3 down, 4 left. Outer ring: 5 up-left,
// 6 down-left, 7 up-right, 8 down-right (with bounds that split the ring that way).
enum ConsoleOrient : int {
    ConsoleNone = 0,
    ConsoleUp = 1,
    ConsoleRight = 2,
    ConsoleDown = 3,
    ConsoleLeft = 4,
    ConsoleUpLeft = 5,
    ConsoleDownLeft = 6,
    ConsoleUpRight = 7,
    ConsoleDownRight = 8,
};
Q_DECLARE_METATYPE(ConsoleOrient)

class MyConsoleLabel : public QLabel {
    Q_OBJECT
public:
    static constexpr int kBoundCount = 20;
    using Bounds = std::array<double, kBoundCount>;

    explicit MyConsoleLabel(QWidget* parent = nullptr);

    void setCentre(const QPointF& centre);
    // b0 < d < b1 outer ring, b2 < d < b3 inner ring; the rest are angle limits in degrees.
    void setBounds(const double (&bounds)[kBoundCount]);
    void setBounds(const Bounds& bounds);

    // Angle of p around centre in degrees, counter-clockwise, 0 pointing right (y grows down).
    static double angleOf(const QPointF& centre, const QPointF& p);
    // The direction code for a pointer at p.
    ConsoleOrient orientAt(const QPointF& p) const;

signals:
    // pressed: 1 for a press, 0 for a release.
    void clicked(ConsoleOrient orient, int pressed);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void report(QMouseEvent* event, int pressed);

    QPointF m_centre{0.0, 0.0};
    Bounds m_bounds{};
};
