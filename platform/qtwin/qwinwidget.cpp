#include "qwinwidget.h"

#include <QWindow>

QWinWidget::QWinWidget(WId hostWindow) : QWidget(nullptr), m_hostWindow(hostWindow) {
    m_hostWidget = hostWindow != 0 ? QWidget::find(hostWindow) : nullptr;
    if (m_hostWidget != nullptr) {
        setParent(m_hostWidget);
        return;
    }
    if (hostWindow == 0) {
        return;
    }
    // A window of another toolkit: embed our own native window into it.
    m_foreign = QWindow::fromWinId(hostWindow);
    if (m_foreign == nullptr) {
        return;
    }
    setAttribute(Qt::WA_NativeWindow);
    winId();
    if (windowHandle() != nullptr) {
        windowHandle()->setParent(m_foreign);
    }
}

QWinWidget::~QWinWidget() {
    if (m_foreign != nullptr && windowHandle() != nullptr) {
        windowHandle()->setParent(nullptr);
    }
    delete m_foreign;
}
