#include "replaysettings.h"

#include <QFileInfo>
#include <QSettings>

extern char** environ;

namespace replay_settings {

const char kFileName[] = "Q7cctvUi_replay.ini";

QString platformRoot(const QStringList& environment) {
    static const QString marker = QStringLiteral("NXROOT=");
    QString root;
    for (const QString& entry : environment) {
        if (entry.startsWith(marker)) {
            root = QString(entry).remove(marker);
        }
    }
    return root;
}

QString locateFile(const QString& root, const QString& exeDir) {
    const QString name = QString::fromLatin1(kFileName);
    if (!root.isEmpty()) {
        const QString candidate = root + QStringLiteral("/cfg/") + name;
        if (QFileInfo::exists(candidate)) {
            return candidate;
        }
    }
    return exeDir + QLatin1Char('/') + name;
}

QColor colourFromList(const QStringList& parts, const QColor& fallback) {
    if (parts.size() != 3) {
        return fallback;
    }
    return QColor(parts[0].trimmed().toInt(), parts[1].trimmed().toInt(),
                  parts[2].trimmed().toInt(), 255);
}

ReplaySettings load(const QString& path) {
    ReplaySettings s;
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        return s;
    }
    QSettings ini(path, QSettings::IniFormat);
    ini.setIniCodec("GBK");
    s.platIp = ini.value(QStringLiteral("/LoginInfo/PlatIP"), s.platIp).toString();
    s.platPort = ini.value(QStringLiteral("/LoginInfo/PlatPort"), s.platPort).toInt();
    s.hostIp = ini.value(QStringLiteral("/LoginInfo/HostIP"), s.hostIp).toString();
    s.hostSipPort = ini.value(QStringLiteral("/LoginInfo/HostSIPPort"), s.hostSipPort).toInt();
    s.hostDevCode = ini.value(QStringLiteral("/LoginInfo/HostDevCode"), s.hostDevCode).toString();
    s.platDevCode = ini.value(QStringLiteral("/LoginInfo/PlatDevCode"), s.platDevCode).toString();
    s.userName = ini.value(QStringLiteral("/LoginInfo/UserName"), s.userName).toString();
    s.password = ini.value(QStringLiteral("/LoginInfo/Password"), s.password).toString();
    s.sn = ini.value(QStringLiteral("/LoginInfo/SN"), s.sn).toInt();
    s.metroLine = ini.value(QStringLiteral("metro"), 0).toInt();
    s.onlineColor = colourFromList(ini.value(QStringLiteral("cameraOnlineColor")).toStringList(),
                                   s.onlineColor);
    s.offlineColor = colourFromList(ini.value(QStringLiteral("cameraOfflineColor")).toStringList(),
                                    s.offlineColor);
    s.fromFile = true;
    return s;
}

QStringList processEnvironment() {
    QStringList entries;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        entries << QString::fromLocal8Bit(*e);
    }
    return entries;
}

}  // namespace replay_settings
