#include "myscreenlabel.h"

#include <QMouseEvent>
#include <QTextCodec>

#include <cstring>

namespace {

const char kSelectedStyle[] = "border-color: red; border-width: 3px;";
const char kUnselectedStyle[] = "border-color: rgb(140,136,133);";

// Names arrive from the database in the local Chinese code page.
QString fromLocal8(const char* text, std::size_t capacity) {
    const int length = static_cast<int>(strnlen(text, capacity));
    if (QTextCodec* codec = QTextCodec::codecForName("GB18030")) {
        return codec->toUnicode(text, length);
    }
    return QString::fromLocal8Bit(text, length);
}

// An unset index (-1) names the label as the first screen or window.
int displayNumber(int index) {
    return (index < 0 ? 0 : index) + 1;
}

}  // namespace

MyScreenLabel::MyScreenLabel(QWidget* parent) : QLabel(parent) {
    setUp();
}

MyScreenLabel::MyScreenLabel(int screenIndex, int windowIndex, QWidget* parent)
    : QLabel(parent), m_screenIndex(screenIndex), m_windowIndex(windowIndex) {
    setUp();
}

void MyScreenLabel::setUp() {
    setObjectName(QStringLiteral("lblTV%1Split%2")
                      .arg(displayNumber(m_screenIndex))
                      .arg(displayNumber(m_windowIndex)));
    setAlignment(Qt::AlignCenter);
    setWordWrap(true);
    clearCamera();
}

void MyScreenLabel::setPosition(int screenIndex, int windowIndex) {
    m_screenIndex = screenIndex;
    m_windowIndex = windowIndex;
}

void MyScreenLabel::setDefaultText(const QString& text) {
    m_defaultText = text;
}

void MyScreenLabel::setCamera(int cameraNumber, const QString& cameraCode) {
    m_cameraNumber = cameraNumber;
    m_cameraCode = cameraCode;
    refreshText();
}

void MyScreenLabel::setCameraEntry(const ScreenCamera& entry) {
    m_cameraEntry = entry;
    refreshText();
}

void MyScreenLabel::cameraEntry(ScreenCamera& out) const {
    out = m_cameraEntry;
}

void MyScreenLabel::clearCamera() {
    m_cameraNumber = -1;
    m_cameraCode.clear();
    m_cameraEntry = ScreenCamera{};
}

void MyScreenLabel::select() {
    m_selected = true;
    setStyleSheet(QString::fromLatin1(kSelectedStyle));
}

void MyScreenLabel::unselect() {
    m_selected = false;
    setStyleSheet(QString::fromLatin1(kUnselectedStyle));
}

void MyScreenLabel::refreshText() {
    const QString name = fromLocal8(m_cameraEntry.cameraName, sizeof(m_cameraEntry.cameraName));
    if (!m_cameraCode.isEmpty() && !name.isEmpty()) {
        setText(QStringLiteral("%1\n%2").arg(m_cameraCode, name));
    } else {
        setText(m_defaultText);
    }
}

void MyScreenLabel::mousePressEvent(QMouseEvent* event) {
    // Screen 0 is the operator's own selection; other screens only report assigned windows.
    if (m_screenIndex == 0) {
        m_selected ? unselect() : select();
        emit clicked(m_screenIndex, m_windowIndex);
    } else if (m_cameraNumber >= 0) {
        emit clicked(m_screenIndex, m_windowIndex);
    }
    event->accept();
}
