#pragma once
// A container widget that lives inside a native window owned by the host.
#include <QWidget>

class QWindow;

class QWinWidget : public QWidget {
    Q_OBJECT
public:
    // hostWindow is the host's native window id. In a Qt host it names one of its widgets, which
    // becomes our parent; otherwise our native window is made a child of the foreign window.
    explicit QWinWidget(WId hostWindow);
    ~QWinWidget() override;

    WId hostWindow() const { return m_hostWindow; }
    // The host's widget when the handle belongs to this process's Qt, else nullptr.
    QWidget* hostWidget() const { return m_hostWidget; }

private:
    WId m_hostWindow;
    QWidget* m_hostWidget = nullptr;
    QWindow* m_foreign = nullptr;
};
