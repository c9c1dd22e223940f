#pragma once
// One window of a video-wall screen: knows its screen and window number, shows the code and
// name of the camera assigned to it, can carry a red selection frame and reports clicks.
#include <QLabel>
#include <QString>

#include "cctv_records.h"

class MyScreenLabel : public QLabel {
    Q_OBJECT
public:
    explicit MyScreenLabel(QWidget* parent = nullptr);
    // Indices are 0-based; the object name is "lblTV<screen+1>Split<window+1>".
    MyScreenLabel(int screenIndex, int windowIndex, QWidget* parent = nullptr);

    // Stores both indices; the object name stays as constructed.
    void setPosition(int screenIndex, int windowIndex);
    int screenIndex() const { return m_screenIndex; }
    int windowIndex() const { return m_windowIndex; }

    void setDefaultText(const QString& text);
    QString defaultText() const { return m_defaultText; }

    void setCamera(int cameraNumber, const QString& cameraCode);
    // Only the GBK cameraName of the entry is shown (under the code).
    void setCameraEntry(const ScreenCamera& entry);
    void cameraEntry(ScreenCamera& out) const;
    int cameraNumber() const { return m_cameraNumber; }
    QString cameraCode() const { return m_cameraCode; }
    // Forgets the camera; the shown text is left as it is.
    void clearCamera();

    void select();
    void unselect();
    bool isSelected() const { return m_selected; }

signals:
    void clicked(int screenIndex, int windowIndex);
    void onLabelClicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void setUp();
    void refreshText();

    bool m_selected = false;
    int m_screenIndex = -1;
    int m_windowIndex = -1;
    QString m_defaultText;
    int m_cameraNumber = -1;
    QString m_cameraCode;
    ScreenCamera m_cameraEntry{};
};
