#include "myscreenlabel.h"

#include <QDateTime>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QTextCodec>

#include <cstring>

namespace {

const char kSelectedStyle[] = "border-color: red; border-width: 3px;";
const char kUnselectedStyle[] = "border-color: rgb(140,136,133);";
const char kOverlayTimeFormat[] = "yyyy-MM-dd HH:mm:ss";
constexpr int kOverlayMargin = 8;
constexpr int kOverlayPixelSize = 18;

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

QString MyScreenLabel::cameraTitle() const {
    const QString name = fromLocal8(m_cameraEntry.cameraName, sizeof(m_cameraEntry.cameraName));
    return name.isEmpty() ? m_cameraCode : name;
}

void MyScreenLabel::showFrame(const QImage& picture, qint64 recordingMs) {
    m_frame = picture;
    // The picture, the black around it and the border cover the label: nothing beneath it is
    // painted first (a full fill of each widget underneath costs more than the picture).
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    const QString time = QDateTime::fromMSecsSinceEpoch(recordingMs)
                             .toString(QString::fromLatin1(kOverlayTimeFormat));
    const QString title = cameraTitle();
    m_overlay = title.isEmpty() ? time : QStringLiteral("%1  %2").arg(title, time);
    update();
}

void MyScreenLabel::clearFrame() {
    if (m_frame.isNull())
        return;
    m_frame = QImage();
    m_overlay.clear();
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    update();
}

void MyScreenLabel::paintEvent(QPaintEvent* event) {
    if (m_frame.isNull()) {
        QLabel::paintEvent(event);
        return;
    }
    paintFrame();
}

// The picture normally arrives at the label's size; a larger one (the label shrank) is scaled.
// Only the picture is painted where the picture goes: the styled background and border (with
// the selection's colour), and black inside the border, around it.
void MyScreenLabel::paintFrame() {
    QPainter painter(this);
    const QRect area = contentsRect();
    QRect target(QPoint(0, 0), m_frame.size());
    if (m_frame.width() > area.width() || m_frame.height() > area.height())
        target.setSize(m_frame.size().scaled(area.size(), Qt::KeepAspectRatio));
    target.moveCenter(area.center());
    painter.setClipRegion(QRegion(rect()).subtracted(target));
    QStyleOption option;
    option.initFrom(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    painter.fillRect(area, Qt::black);
    painter.setClipping(false);
    if (target.size() == m_frame.size())
        painter.drawImage(target.topLeft(), m_frame);
    else
        painter.drawImage(target, m_frame);

    QFont font = painter.font();
    font.setPixelSize(kOverlayPixelSize);
    font.setBold(true);
    painter.setFont(font);
    const QFontMetrics metrics = painter.fontMetrics();
    const QRect text(target.topLeft() + QPoint(kOverlayMargin, kOverlayMargin),
                     QSize(metrics.horizontalAdvance(m_overlay) + 8, metrics.height() + 4));
    painter.fillRect(text, QColor(0, 0, 0, 140));
    painter.setPen(Qt::white);
    painter.drawText(text, Qt::AlignCenter, m_overlay);
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
