#include "dialogplacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

QPoint pointerPlacement(const QPoint& pos, int screenWidth, int desktopHeight, int columnCount,
                        const QSize& dialogSize) {
    if (screenWidth <= 0) {
        return QPoint(0, (desktopHeight - dialogSize.height()) / 2);
    }
    // 1 <= x <= W is column 0, W + 1 <= x <= 2W column 1, ...; kept on the screens present.
    const int column =
        std::clamp((pos.x() + screenWidth - 1) / screenWidth - 1, 0, std::max(columnCount, 1) - 1);
    const int left = screenWidth * column + screenWidth / 2 - dialogSize.width() / 2;
    const int top = (desktopHeight - dialogSize.height()) / 2;
    return QPoint(left, top);
}

void placeUnderPointer(QWidget* dialog, const QPoint& pos) {
    QScreen* primary = QGuiApplication::primaryScreen();
    if (dialog == nullptr || primary == nullptr) {
        return;
    }
    const int screenWidth = primary->geometry().width();
    const QRect desktop = primary->virtualGeometry();
    // Screens sit side by side; a partly covered last column still counts.
    const int columns = screenWidth > 0 ? (desktop.right() + 1 + screenWidth - 1) / screenWidth : 1;
    dialog->move(pointerPlacement(pos, screenWidth, desktop.height(), columns, dialog->size()));
}
