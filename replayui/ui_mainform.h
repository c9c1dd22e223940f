/********************************************************************************
** Form generated from reading UI file 'mainform.ui'
** Kept in the shape uic writes, so the form stays a plain generated set-up.
********************************************************************************/
#ifndef UI_MAINFORM_H
#define UI_MAINFORM_H

#include <QtCore/QVariant>
#include <QtWidgets/QApplication>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QDateEdit>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QSlider>
#include <QtWidgets/QTimeEdit>
#include <QtWidgets/QWidget>
#include "recordtimelineslider.h"

QT_BEGIN_NAMESPACE

class Ui_MainForm {
public:
    QGroupBox* grpboxSel;
    QLabel* label_6;
    QComboBox* cbxLine;
    QLabel* label_7;
    QLabel* label_8;
    QComboBox* cbxStation;
    QComboBox* cbxCamera;
    QPushButton* btnMoveUp;
    QPushButton* btnMoveDown;
    QPushButton* btnRefresh;
    QLabel* label_10;
    QLabel* label_11;
    QComboBox* cbxzone1;
    QComboBox* cbxzone2;
    QLabel* label_15;
    QLabel* labelStatus;
    QGroupBox* groupBox;
    QDateEdit* dateEdit_Start;
    QLabel* label_12;
    QLabel* label_9;
    QLabel* label_13;
    QLabel* label_14;
    QDateEdit* dateEdit_End;
    QTimeEdit* timeEdit_Start;
    QTimeEdit* timeEdit_End;
    QPushButton* btnPause;
    QPushButton* btnStop;
    QPushButton* btnPlay;
    QComboBox* cbxSpeed;
    QLabel* label_16;
    RecordTimelineSlider* horizontalSlider;
    QLabel* lbStartTime;
    QLabel* lbEndTime;

    void setupUi(QWidget* MainForm) {
        if (MainForm->objectName().isEmpty())
            MainForm->setObjectName(QString::fromUtf8("MainForm"));
        MainForm->resize(1480, 700);
        MainForm->setMinimumSize(QSize(1480, 700));
        MainForm->setMaximumSize(QSize(16777215, 1700));
        MainForm->setAutoFillBackground(false);
        grpboxSel = new QGroupBox(MainForm);
        grpboxSel->setObjectName(QString::fromUtf8("grpboxSel"));
        grpboxSel->setGeometry(QRect(1115, 240, 341, 416));
        label_6 = new QLabel(grpboxSel);
        label_6->setObjectName(QString::fromUtf8("label_6"));
        label_6->setGeometry(QRect(20, 40, 41, 16));
        cbxLine = new QComboBox(grpboxSel);
        cbxLine->setObjectName(QString::fromUtf8("cbxLine"));
        cbxLine->setGeometry(QRect(80, 30, 201, 32));
        label_7 = new QLabel(grpboxSel);
        label_7->setObjectName(QString::fromUtf8("label_7"));
        label_7->setGeometry(QRect(20, 115, 41, 16));
        label_8 = new QLabel(grpboxSel);
        label_8->setObjectName(QString::fromUtf8("label_8"));
        label_8->setGeometry(QRect(20, 340, 51, 16));
        cbxStation = new QComboBox(grpboxSel);
        cbxStation->setObjectName(QString::fromUtf8("cbxStation"));
        cbxStation->setGeometry(QRect(80, 105, 201, 32));
        cbxCamera = new QComboBox(grpboxSel);
        cbxCamera->setObjectName(QString::fromUtf8("cbxCamera"));
        cbxCamera->setGeometry(QRect(80, 330, 201, 32));
        btnMoveUp = new QPushButton(grpboxSel);
        btnMoveUp->setObjectName(QString::fromUtf8("btnMoveUp"));
        btnMoveUp->setGeometry(QRect(290, 313, 38, 31));
        QIcon icon;
        icon.addFile(QString::fromUtf8(":/pic/cctvUp.png"), QSize(), QIcon::Normal, QIcon::Off);
        btnMoveUp->setIcon(icon);
        btnMoveUp->setIconSize(QSize(38, 34));
        btnMoveDown = new QPushButton(grpboxSel);
        btnMoveDown->setObjectName(QString::fromUtf8("btnMoveDown"));
        btnMoveDown->setGeometry(QRect(290, 350, 38, 34));
        QIcon icon1;
        icon1.addFile(QString::fromUtf8(":/pic/cctvDown.png"), QSize(), QIcon::Normal, QIcon::Off);
        btnMoveDown->setIcon(icon1);
        btnMoveDown->setIconSize(QSize(38, 34));
        btnRefresh = new QPushButton(grpboxSel);
        btnRefresh->setObjectName(QString::fromUtf8("btnRefresh"));
        btnRefresh->setGeometry(QRect(290, 30, 38, 32));
        QIcon icon2;
        icon2.addFile(QString::fromUtf8(":/pic/refresh.png"), QSize(), QIcon::Normal, QIcon::Off);
        btnRefresh->setIcon(icon2);
        btnRefresh->setIconSize(QSize(38, 32));
        label_10 = new QLabel(grpboxSel);
        label_10->setObjectName(QString::fromUtf8("label_10"));
        label_10->setGeometry(QRect(20, 190, 51, 16));
        label_11 = new QLabel(grpboxSel);
        label_11->setObjectName(QString::fromUtf8("label_11"));
        label_11->setGeometry(QRect(20, 265, 51, 16));
        cbxzone1 = new QComboBox(grpboxSel);
        cbxzone1->setObjectName(QString::fromUtf8("cbxzone1"));
        cbxzone1->setGeometry(QRect(80, 180, 201, 32));
        cbxzone2 = new QComboBox(grpboxSel);
        cbxzone2->setObjectName(QString::fromUtf8("cbxzone2"));
        cbxzone2->setGeometry(QRect(80, 255, 201, 32));
        label_15 = new QLabel(MainForm);
        label_15->setObjectName(QString::fromUtf8("label_15"));
        label_15->setGeometry(QRect(1115, 665, 71, 16));
        labelStatus = new QLabel(MainForm);
        labelStatus->setObjectName(QString::fromUtf8("labelStatus"));
        labelStatus->setGeometry(QRect(1195, 665, 231, 18));
        groupBox = new QGroupBox(MainForm);
        groupBox->setObjectName(QString::fromUtf8("groupBox"));
        groupBox->setGeometry(QRect(1115, 60, 341, 161));
        dateEdit_Start = new QDateEdit(groupBox);
        dateEdit_Start->setObjectName(QString::fromUtf8("dateEdit_Start"));
        dateEdit_Start->setGeometry(QRect(80, 50, 110, 26));
        dateEdit_Start->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
        dateEdit_Start->setCalendarPopup(true);
        label_12 = new QLabel(groupBox);
        label_12->setObjectName(QString::fromUtf8("label_12"));
        label_12->setGeometry(QRect(34, 110, 41, 16));
        label_9 = new QLabel(groupBox);
        label_9->setObjectName(QString::fromUtf8("label_9"));
        label_9->setGeometry(QRect(34, 55, 41, 16));
        label_13 = new QLabel(groupBox);
        label_13->setObjectName(QString::fromUtf8("label_13"));
        label_13->setGeometry(QRect(98, 25, 66, 16));
        label_14 = new QLabel(groupBox);
        label_14->setObjectName(QString::fromUtf8("label_14"));
        label_14->setGeometry(QRect(235, 25, 66, 16));
        dateEdit_End = new QDateEdit(groupBox);
        dateEdit_End->setObjectName(QString::fromUtf8("dateEdit_End"));
        dateEdit_End->setGeometry(QRect(80, 105, 110, 26));
        dateEdit_End->setCalendarPopup(true);
        timeEdit_Start = new QTimeEdit(groupBox);
        timeEdit_Start->setObjectName(QString::fromUtf8("timeEdit_Start"));
        timeEdit_Start->setGeometry(QRect(210, 50, 111, 26));
        timeEdit_End = new QTimeEdit(groupBox);
        timeEdit_End->setObjectName(QString::fromUtf8("timeEdit_End"));
        timeEdit_End->setGeometry(QRect(210, 105, 111, 26));
        btnPause = new QPushButton(MainForm);
        btnPause->setObjectName(QString::fromUtf8("btnPause"));
        btnPause->setGeometry(QRect(1115, 15, 75, 31));
        btnStop = new QPushButton(MainForm);
        btnStop->setObjectName(QString::fromUtf8("btnStop"));
        btnStop->setGeometry(QRect(1250, 15, 75, 31));
        btnPlay = new QPushButton(MainForm);
        btnPlay->setObjectName(QString::fromUtf8("btnPlay"));
        btnPlay->setGeometry(QRect(1380, 15, 75, 31));
        cbxSpeed = new QComboBox(MainForm);
        cbxSpeed->setObjectName(QString::fromUtf8("cbxSpeed"));
        cbxSpeed->setGeometry(QRect(1035, 628, 60, 26));
        label_16 = new QLabel(MainForm);
        label_16->setObjectName(QString::fromUtf8("label_16"));
        label_16->setGeometry(QRect(1005, 628, 31, 26));
        horizontalSlider = new RecordTimelineSlider(MainForm);
        horizontalSlider->setObjectName(QString::fromUtf8("horizontalSlider"));
        horizontalSlider->setGeometry(QRect(20, 628, 965, 26));
        horizontalSlider->setOrientation(Qt::Horizontal);
        horizontalSlider->setTickPosition(QSlider::TicksBelow);
        lbStartTime = new QLabel(MainForm);
        lbStartTime->setObjectName(QString::fromUtf8("lbStartTime"));
        lbStartTime->setGeometry(QRect(4, 658, 70, 21));
        lbEndTime = new QLabel(MainForm);
        lbEndTime->setObjectName(QString::fromUtf8("lbEndTime"));
        lbEndTime->setGeometry(QRect(960, 658, 68, 20));

        retranslateUi(MainForm);
        QObject::connect(btnMoveUp, SIGNAL(clicked()), MainForm, SLOT(onClicked_moveUp()));
        QObject::connect(btnMoveDown, SIGNAL(clicked()), MainForm, SLOT(onClicked_moveDown()));

        QMetaObject::connectSlotsByName(MainForm);
    }  // setupUi

    void retranslateUi(QWidget* MainForm) {
        MainForm->setWindowTitle(QCoreApplication::translate("MainForm", "Form", nullptr));
        grpboxSel->setTitle(QCoreApplication::translate("MainForm", "视频选择", nullptr));
        label_6->setText(QCoreApplication::translate("MainForm", "线路:", nullptr));
        label_7->setText(QCoreApplication::translate("MainForm", "列车", nullptr));
        label_8->setText(QCoreApplication::translate("MainForm", "摄像头:", nullptr));
        btnMoveUp->setText(QString());
        btnMoveDown->setText(QString());
        btnRefresh->setText(QString());
        label_10->setText(QCoreApplication::translate("MainForm", "列车编号", nullptr));
        label_11->setText(QCoreApplication::translate("MainForm", "车厢编号", nullptr));
        label_15->setText(QCoreApplication::translate("MainForm", "操作反馈", nullptr));
        labelStatus->setText(QString());
        groupBox->setTitle(QCoreApplication::translate("MainForm", "时间选择", nullptr));
        dateEdit_Start->setDisplayFormat(
            QCoreApplication::translate("MainForm", "yyyy/MM/dd", nullptr));
        label_12->setText(QCoreApplication::translate("MainForm", "止:", nullptr));
        label_9->setText(QCoreApplication::translate("MainForm", "起:", nullptr));
        label_13->setText(QCoreApplication::translate("MainForm", "年/月/日", nullptr));
        label_14->setText(QCoreApplication::translate("MainForm", "时:分:秒", nullptr));
        dateEdit_End->setDisplayFormat(
            QCoreApplication::translate("MainForm", "yyyy/MM/dd", nullptr));
        timeEdit_Start->setDisplayFormat(
            QCoreApplication::translate("MainForm", "HH:mm:ss", nullptr));
        timeEdit_End->setDisplayFormat(
            QCoreApplication::translate("MainForm", "HH:mm:ss", nullptr));
        btnPause->setText(QCoreApplication::translate("MainForm", "暂   停", nullptr));
        btnStop->setText(QCoreApplication::translate("MainForm", "停   止", nullptr));
        btnPlay->setText(QCoreApplication::translate("MainForm", "播   放", nullptr));
        label_16->setText(QCoreApplication::translate("MainForm", "倍速", nullptr));
        lbStartTime->setText(QCoreApplication::translate("MainForm", "00:00:00", nullptr));
        lbEndTime->setText(QCoreApplication::translate("MainForm", "00:00:00", nullptr));
    }  // retranslateUi
};

namespace Ui {
class MainForm : public Ui_MainForm {};
}  // namespace Ui

QT_END_NAMESPACE

#endif  // UI_MAINFORM_H
