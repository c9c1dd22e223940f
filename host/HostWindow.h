#pragma once
#include <QMainWindow>

// The HMI's main window: a title strip and the page the CCTV plug-in draws into.
class HostWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kMargin = 10;
    static constexpr int kFormWidth = 1480;
    static constexpr int kFormHeight = 700;

    explicit HostWindow(QWidget* parent = nullptr);
    QWidget* page() const { return m_page; }
    // The view's edges inside the page, as the plug-in takes them (right and bottom exclusive).
    static constexpr int kViewLeft = kMargin, kViewTop = kMargin;
    static constexpr int kViewRight = kMargin + kFormWidth, kViewBottom = kMargin + kFormHeight;

private:
    QWidget* m_page;
};
