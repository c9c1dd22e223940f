#pragma once
// While alive, swallows left/right clicks and wheel turns whose desktop y is inside the top band,
// for every window of the application. Stands in for a system-wide low-level mouse hook.
#include <QObject>
#include <functional>

class TopBandMouseFilter : public QObject {
    Q_OBJECT
public:
    static constexpr int kBandHeight = 120;

    // leftButtonPasses: when it returns true, left button presses and releases are let through.
    explicit TopBandMouseFilter(std::function<bool()> leftButtonPasses = {});
    ~TopBandMouseFilter() override;

    // Whether an input event is swallowed (public so the rule can be checked on its own).
    bool swallows(const QEvent* event) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<bool()> m_leftButtonPasses;
};
