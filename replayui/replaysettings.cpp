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

namespace {

// Keys of the group [Timing], in milliseconds.
const struct {
    const char* key;
    int SessionTimings::*field;
} kTimingKeys[] = {
    {"RegisterMs", &SessionTimings::registerMs},
    {"KeepaliveMs", &SessionTimings::keepaliveMs},
    {"ReloginMs", &SessionTimings::reloginMs},
    {"BackoffMaxMs", &SessionTimings::backoffMaxMs},
    {"T1Ms", &SessionTimings::t1Ms},
    {"T2Ms", &SessionTimings::t2Ms},
    {"T4Ms", &SessionTimings::t4Ms},
    {"SubscribeRetryMs", &SessionTimings::subscribeRetryMs},
    {"SubscribeRetryMaxMs", &SessionTimings::subscribeRetryMaxMs},
};
// From 10 ms (a timer fires no faster than the event loop turns) to a day.
constexpr int kShortestMs = 10;
constexpr int kLongestMs = 86400000;

void loadTimings(QSettings& ini, ReplaySettings* s) {
    for (const auto& entry : kTimingKeys) {
        const QString key = QStringLiteral("Timing/") + QLatin1String(entry.key);
        if (!ini.contains(key)) {
            continue;
        }
        bool ok = false;
        const int value = ini.value(key).toString().trimmed().toInt(&ok);
        if (ok && value >= kShortestMs && value <= kLongestMs) {
            s->timings.*entry.field = value;
        } else {
            s->problems << QStringLiteral("[Timing] %1=%2 refused (%3 to %4 ms); %5 kept")
                               .arg(QLatin1String(entry.key), ini.value(key).toString())
                               .arg(kShortestMs)
                               .arg(kLongestMs)
                               .arg(s->timings.*entry.field);
        }
    }
}

}  // namespace

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
    loadTimings(ini, &s);
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
