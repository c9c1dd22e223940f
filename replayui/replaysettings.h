#pragma once
// The console's settings file: where it is, what it holds, and the values used without it.
#include <QColor>
#include <QString>
#include <QStringList>

#include "sessiontimings.h"

struct ReplaySettings {
    QString platIp = QStringLiteral("0");
    int platPort = 5061;
    QString hostIp = QStringLiteral("0");
    int hostSipPort = 7610;
    QString hostDevCode = QStringLiteral("01552400000805100001");
    QString platDevCode = QStringLiteral("01552403048401000001");
    QString userName = QStringLiteral("admin");
    QString password = QStringLiteral("482913");
    int sn = 170;
    int metroLine = 0;
    QColor onlineColor = QColor(34, 177, 76, 255);
    QColor offlineColor = QColor(255, 0, 0, 255);
    bool fromFile = false;  // false: no file was found and these are the defaults
    // The session's timer periods: the defaults unless the optional group [Timing] sets some
    // (tests and soak runs compress them; a site never needs to).
    SessionTimings timings;
    QStringList problems;  // values of the file that were refused, for the log
};

namespace replay_settings {

extern const char kFileName[];  // "Q7cctvUi_replay.ini"

// The platform root from environment entries "NAME=value": every entry that begins with
// "NXROOT=" gives a candidate (the marker removed wherever it occurs); the last one wins.
QString platformRoot(const QStringList& environment);

// root/cfg/<file> when it exists, else exeDir/<file>.
QString locateFile(const QString& root, const QString& exeDir);

// Reads the file when it exists; otherwise returns the defaults (fromFile false).
ReplaySettings load(const QString& path);

// Three decimal components give a colour (a text that does not convert counts 0); any other
// count keeps the fallback.
QColor colourFromList(const QStringList& parts, const QColor& fallback);

// The process environment as "NAME=value" entries, in order.
QStringList processEnvironment();

}  // namespace replay_settings
