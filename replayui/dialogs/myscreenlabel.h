#pragma once
// One window of a video-wall screen: knows its screen and window number, shows the code and
// name of the camera assigned to it, can carry a red selection frame and reports clicks.
#include <QImage>
#include <QLabel>
#include <QString>

#include "cctv_records.h"

class MyScreenLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(bool hasFrame READ hasFrame)
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

    // The picture shown instead of the text, centred on black, with the camera's name (or code)
    // and the recording time of the picture over it. clearFrame() brings the text back.
    bool hasFrame() const { return !m_frame.isNull(); }
    // The line drawn over the picture: "<name>  yyyy-MM-dd HH:mm:ss" (local time).
    QString overlayText() const { return m_overlay; }

public slots:
    // `recordingMs`: the picture's recording time, milliseconds since 1970 (UTC).
    void showFrame(const QImage& picture, qint64 recordingMs);
    void clearFrame();

signals:
    void clicked(int screenIndex, int windowIndex);
    void onLabelClicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void setUp();
    void refreshText();
    QString cameraTitle() const;
    void paintFrame();

    bool m_selected = false;
    int m_screenIndex = -1;
    int m_windowIndex = -1;
    QString m_defaultText;
    int m_cameraNumber = -1;
    QString m_cameraCode;
    ScreenCamera m_cameraEntry{};
    QImage m_frame;
    QString m_overlay;
};
