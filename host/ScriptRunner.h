#pragma once
// A scripted operator: one action per line, each addressing widgets by object name. Actions run
// one after another from the event loop; waits poll without blocking it.
//
//   # comment                          blank lines and comments are skipped
//   timeout <ms>                       default limit of the wait actions that follow (15000)
//   select <object> <text>|#<index>    choose a combo item (waits until it exists)
//   date <object> <yyyy-MM-dd>         set a date edit
//   time <object> <HH:mm:ss>           set a time edit
//   type <object> <text>               set a line edit's text
//   click <object>                     click a button (waits until it is enabled)
//   slider <object> <value>            drag a slider to the value and release it
//   wait <ms>                          let the event loop run
//   wait-text <object> <text>          until the widget's text contains text
//   wait-status <text>                 wait-text on labelStatus
//   wait-count <object> <n>            until a combo box holds at least n items
//   expect-text <object> <text>        the widget's text contains text, now
//   wait-file <file> <n> <text>        until at least n lines of the file contain text
//   wait-property <object> <name> <op> <value> [<tolerance>]
//                                      until the object's property compares: op is = != < <= >
//                                      >= or ~ (within the tolerance); value is numbers joined
//                                      by + and - (e.g. ${KEPT}+1800000)
//   expect-property <object> <name> <op> <value> [<tolerance>]   the same, now
//   keep-property <object> <name> <var>  set the environment variable var to the value
//   dialog <text>                      until a modal dialog showing text is open; then close it
//   screenshot <file>                  PNG of the main window (relative to the output folder)
//   timeline <object> <file>           until the slider's record timeline is known; then writes
//                                      it to file, one "start end recorded|gap" line per piece
//   exec <command>                     run a shell command and wait for it (the event loop
//                                      waits too: keep it short; wait-file waits without blocking)
//   echo <text>                        print a line
//   mark <text>                        print "MARK <ms since the start> <text>" (step times)
//   stall-watch                        start watching the event loop with a 5 ms timer
//   stall-report                       print "STALL <longest gap between its ticks> ms (the GUI
//                                      thread busy at most <ms> ms of a gap)": the CPU time the
//                                      thread itself spent, without what other processes took
//   save-items <object> <file>         append one line per item of a combo box to the file:
//                                      "<item data> <text colour #rrggbb, or -> <text>"
//   wait-colour <object> <data> <#rrggbb>  until the combo item with that data has that colour
//   quit [code]                        end the session with the code (default 0)
// ${NAME} is replaced by the environment variable NAME; one not set when the script is read is
// replaced when its line runs (keep-property sets them). A failing action ends the session with 1.
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariant>
#include <QVector>
#include <functional>

class QWidget;

class ScriptRunner : public QObject {
    Q_OBJECT
public:
    struct Step {
        int line = 0;
        QString verb;
        QStringList args;  // words; the last argument of text actions keeps its blanks
        QString raw;
    };
    enum class Status { Done, Pending, Failed };

    explicit ScriptRunner(QWidget* window, QObject* parent = nullptr);

    // Parses the script; false with errorText() on an unknown action or missing argument.
    bool load(const QString& text);
    void start();
    void setOutputDir(const QString& dir) { m_outputDir = dir; }
    const QVector<Step>& steps() const { return m_steps; }
    QString errorText() const { return m_error; }

    // Finds a widget by object name anywhere in the application, visible ones first.
    static QWidget* findWidget(const QString& name);
    // The text a person reads on a widget: label, button, line edit, combo current item.
    static QString widgetText(const QWidget* w);
    // A widget by name as above, else any object of that name inside a top-level widget.
    static QObject* findObject(const QString& name);
    // Invalid when there is no such object or property.
    static QVariant propertyValue(const QString& object, const QString& name);
    static QString propertyText(const QString& object, const QString& name);

signals:
    void finished(int exitCode);
    void message(const QString& text);

private:
    using Action = std::function<Status(ScriptRunner&, const Step&)>;
    struct Verb {
        int minArgs;
        bool restIsText;  // the arguments after minArgs-1 words form one text
        Action run;
    };
    static const QMap<QString, Verb>& verbs();

    void tick();
    void runCurrentStep();
    Status fail(const Step& step, const QString& why);  // ends the session with 1

    Status doSelect(const Step& s);
    Status doClick(const Step& s);
    Status doSlider(const Step& s);
    Status doWaitText(const QString& object, const QString& text);
    Status doWaitFile(const Step& s);
    Status doDialog(const Step& s);
    Status doScreenshot(const Step& s);
    Status doTimeline(const Step& s);
    QString outputPath(const QString& path) const;
    bool checkProperty(const Step& s, QString* why);
    Status doSaveItems(const Step& s);
    Status doWaitColour(const Step& s);

    QWidget* m_window;
    QVector<Step> m_steps;
    int m_index = 0;
    Step m_current;  // the step under way, its variables expanded
    int m_defaultTimeoutMs = 15000;
    qint64 m_stepDeadline = 0;
    qint64 m_waitUntil = 0;
    struct FileSeen {  // what wait-file has read of its file so far
        qint64 offset = 0;
        int matches = 0;
        QByteArray partial;  // a last line not yet ended
    };
    FileSeen m_fileSeen;
    bool m_stepStarted = false;
    bool m_busy = false;
    QString m_outputDir;
    QString m_error;
    QTimer m_timer;
    QElapsedTimer m_clock;  // since start()
    QTimer m_stallTimer;
    qint64 m_lastStallTick = 0;
    qint64 m_longestStall = 0;
    qint64 m_lastStallCpuUs = 0;
    qint64 m_busiestStallUs = 0;
};
