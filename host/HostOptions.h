#pragma once
#include <QRect>
#include <QString>
#include <QStringList>

struct HostOptions {
    QString nxroot;       // empty: keep NXROOT from the environment
    QRect geometry;       // main window placement; null: default size
    QString screenshot;   // taken once the form has settled
    QString script;       // scripted operator session
    QString plugin;       // plug-in library; empty: libin_Orvex.so beside the host
    int settleMs = 1500;  // how long the form gets before the screenshot
    QString error;        // set when the command line is wrong
};

// Parses "WxH+X+Y" or "WxH".
QRect parseGeometry(const QString& text, bool* ok);
HostOptions parseHostOptions(const QStringList& arguments);
