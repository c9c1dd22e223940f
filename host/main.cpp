// hmihost: the supervisory HMI stand-in. It loads the CCTV plug-in into a page of its main window,
// runs the event loop, and optionally a scripted operator session and a screenshot.
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "HostOptions.h"
#include "HostWindow.h"
#include "PluginHost.h"
#include "ScriptRunner.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    if (::write(g_signalPipe[1], &c, 1) < 0) {
    }
}

// Ctrl-C and kill end the event loop, so the plug-in is unloaded as on a normal close.
void quitOnSignals(QApplication* app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [app] { app->exit(130); });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

void chooseHeadlessPlatform() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

void say(const QString& text) {
    std::fprintf(stdout, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    chooseHeadlessPlatform();
    QApplication app(argc, argv);
    app.setApplicationName("hmihost");
    const HostOptions options = parseHostOptions(app.arguments());
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "%s\n", options.error.toLocal8Bit().constData());
        return 2;
    }
    if (!options.nxroot.isEmpty())
        qputenv("NXROOT", QFileInfo(options.nxroot).absoluteFilePath().toLocal8Bit());
    quitOnSignals(&app);

    HostWindow window;
    if (!options.geometry.isNull())
        window.setGeometry(options.geometry);
    window.show();

    const QString pluginPath =
        options.plugin.isEmpty() ? app.applicationDirPath() + "/libin_Orvex.so" : options.plugin;
    PluginHost host;
    PluginHost::Outcome outcome = host.load(pluginPath);
    if (outcome != PluginHost::Outcome::Ok) {
        say(QString("hmihost: cannot load the plug-in (%1): %2")
                .arg(PluginHost::outcomeName(outcome), host.errorText()));
        return 3;
    }
    QWidget* page = window.page();
    CVGHostWindow parent(static_cast<NxWindowHandle>(page->winId()), page->height());
    outcome = host.openView(&parent, HostWindow::kViewLeft, HostWindow::kViewTop,
                            HostWindow::kViewRight, HostWindow::kViewBottom);
    if (outcome != PluginHost::Outcome::Ok)
        say("hmihost: " + host.errorText());

    if (!options.screenshot.isEmpty()) {
        QTimer::singleShot(options.settleMs, &window, [&window, &options] {
            say(window.grab().save(options.screenshot, "PNG")
                    ? "screenshot: " + options.screenshot
                    : "hmihost: cannot write " + options.screenshot);
        });
    }

    ScriptRunner runner(&window);
    if (!options.script.isEmpty()) {
        QFile file(options.script);
        if (!file.open(QIODevice::ReadOnly) || !runner.load(QString::fromUtf8(file.readAll()))) {
            say("hmihost: script " + options.script + ": " +
                (runner.errorText().isEmpty() ? file.errorString() : runner.errorText()));
            return 2;
        }
        if (outcome != PluginHost::Outcome::Ok)
            return 4;
        runner.setOutputDir(options.screenshot.isEmpty()
                                ? QDir::currentPath()
                                : QFileInfo(options.screenshot).absolutePath());
        QObject::connect(&runner, &ScriptRunner::message, &say);
        QObject::connect(&runner, &ScriptRunner::finished, &app, &QApplication::exit,
                         Qt::QueuedConnection);
        QTimer::singleShot(0, &runner, &ScriptRunner::start);
    }

    const int rc = app.exec();
    host.unload();  // closes the form and unloads the UI library before the application goes
    say(QString("hmihost: exit %1").arg(rc));
    return rc;
}
