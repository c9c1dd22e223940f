#include "HostOptions.h"

#include <QCommandLineParser>
#include <QRegularExpression>

QRect parseGeometry(const QString& text, bool* ok) {
    static const QRegularExpression re(R"(^(\d+)x(\d+)(?:([+-]\d+)([+-]\d+))?$)");
    const auto m = re.match(text.trimmed());
    *ok = m.hasMatch();
    if (!*ok)
        return QRect();
    return QRect(m.captured(3).toInt(), m.captured(4).toInt(), m.captured(1).toInt(),
                 m.captured(2).toInt());
}

HostOptions parseHostOptions(const QStringList& arguments) {
    QCommandLineParser p;
    p.setApplicationDescription("HMI host with the CCTV replay page");
    p.addHelpOption();
    p.addOption({"nxroot", "Platform root (otherwise $NXROOT).", "dir"});
    p.addOption({"geometry", "Main window geometry WxH+X+Y.", "geometry"});
    p.addOption({"screenshot", "Write a PNG of the window once the form has settled.", "file"});
    p.addOption({"script", "Run a scripted operator session.", "file"});
    p.addOption(
        {"plugin", "Plug-in library to load (default: libin_Orvex.so beside the host).", "file"});
    p.addOption({"settle", "Milliseconds to wait before the screenshot (default 1500).", "ms"});

    HostOptions o;
    if (!p.parse(arguments)) {
        o.error = p.errorText();
        return o;
    }
    if (p.isSet("help")) {
        o.error = p.helpText();
        return o;
    }
    o.nxroot = p.value("nxroot");
    o.screenshot = p.value("screenshot");
    o.script = p.value("script");
    o.plugin = p.value("plugin");
    if (p.isSet("settle"))
        o.settleMs = p.value("settle").toInt();
    if (p.isSet("geometry")) {
        bool ok = false;
        o.geometry = parseGeometry(p.value("geometry"), &ok);
        if (!ok)
            o.error = "bad --geometry, expected WxH+X+Y: " + p.value("geometry");
    }
    return o;
}
