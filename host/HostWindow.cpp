#include "HostWindow.h"

#include <QLabel>
#include <QVBoxLayout>

HostWindow::HostWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("HMI — 视频回放"));
    auto* central = new QWidget(this);
    central->setObjectName("hmiCentral");
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* title = new QLabel(QStringLiteral("  CCTV 录像回放"), central);
    title->setObjectName("hmiTitle");
    title->setFixedHeight(28);
    title->setStyleSheet("background: rgb(20, 30, 40); color: white; font-weight: bold;");
    m_page = new QWidget(central);
    m_page->setObjectName("hmiPage");
    m_page->setFixedSize(kFormWidth + 2 * kMargin, kFormHeight + 2 * kMargin);
    m_page->setStyleSheet("QWidget#hmiPage { background: rgb(7, 54, 80); }");
    m_page->setAttribute(Qt::WA_NativeWindow);  // the plug-in is given its native handle
    layout->addWidget(title);
    layout->addWidget(m_page);
    setCentralWidget(central);
}
