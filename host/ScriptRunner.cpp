#include "ScriptRunner.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBrush>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QSlider>
#include <QTimeEdit>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

qint64 nowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

// CPU time of the calling thread: a gap in the event loop that the thread did not spend working
// was the machine's doing (other processes), not ours.
qint64 threadCpuUs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

// With `keepUnset`, a variable not set now stays as written (keep-property may set it later).
QString expandEnvironment(QString line, bool keepUnset) {
    static const QRegularExpression var(R"(\$\{([A-Za-z_][A-Za-z0-9_]*)\})");
    auto m = var.match(line);
    while (m.hasMatch()) {
        const QByteArray name = m.captured(1).toLocal8Bit();
        if (keepUnset && !qEnvironmentVariableIsSet(name.constData())) {
            m = var.match(line, m.capturedEnd());
            continue;
        }
        line.replace(m.capturedStart(), m.capturedLength(),
                     QString::fromLocal8Bit(qgetenv(name.constData())));
        m = var.match(line, m.capturedStart());
    }
    return line;
}

// "1700000000000+1800000-40": numbers joined by + and -.
bool parseSum(const QString& text, double* sum) {
    static const QRegularExpression term(R"(([+-]?)(\d+(?:\.\d+)?))");
    *sum = 0;
    int at = 0;
    while (at < text.size()) {
        const auto m = term.match(text, at, QRegularExpression::NormalMatch,
                                  QRegularExpression::AnchoredMatchOption);
        if (!m.hasMatch() || (at > 0 && m.captured(1).isEmpty()))
            return false;
        *sum += (m.captured(1) == "-" ? -1 : 1) * m.captured(2).toDouble();
        at = m.capturedEnd();
    }
    return !text.isEmpty();
}

// The comparisons of wait-property and expect-property; `~` is "within the tolerance".
bool compareValues(const QString& op, double actual, double wanted, double tolerance, bool* ok) {
    static const QMap<QString, std::function<bool(double, double, double)>> ops{
        {"=", [](double a, double w, double) { return a == w; }},
        {"!=", [](double a, double w, double) { return a != w; }},
        {"<", [](double a, double w, double) { return a < w; }},
        {"<=", [](double a, double w, double) { return a <= w; }},
        {">", [](double a, double w, double) { return a > w; }},
        {">=", [](double a, double w, double) { return a >= w; }},
        {"~", [](double a, double w, double t) { return std::abs(a - w) <= t; }},
    };
    const auto it = ops.find(op);
    *ok = it != ops.end();
    return *ok && (*it)(actual, wanted, tolerance);
}

// All the visible text of a dialog, so a script can recognise it.
QString dialogText(QWidget* dialog) {
    QStringList parts{dialog->windowTitle()};
    for (QLabel* l : dialog->findChildren<QLabel*>())
        parts << l->text();
    return parts.join('\n');
}

// Closes a dialog the way an operator would: its accepting button if it has one.
void closeDialog(QWidget* dialog) {
    if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
        if (QAbstractButton* b = box->buttons().value(0)) {
            b->click();
            return;
        }
    }
    for (const char* name : {"btnYes", "btnOK", "btnOk", "pushButton"}) {
        if (auto* b = dialog->findChild<QAbstractButton*>(name)) {
            b->click();
            return;
        }
    }
    if (auto* d = qobject_cast<QDialog*>(dialog))
        d->accept();
    else
        dialog->close();
}

}  // namespace

ScriptRunner::ScriptRunner(QWidget* window, QObject* parent) : QObject(parent), m_window(window) {
    m_timer.setInterval(25);
    connect(&m_timer, &QTimer::timeout, this, &ScriptRunner::tick);
    m_stallTimer.setInterval(5);
    m_stallTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_stallTimer, &QTimer::timeout, this, [this] {
        const qint64 now = m_clock.elapsed();
        const qint64 cpu = threadCpuUs();
        m_longestStall = std::max(m_longestStall, now - m_lastStallTick);
        m_busiestStallUs = std::max(m_busiestStallUs, cpu - m_lastStallCpuUs);
        m_lastStallTick = now;
        m_lastStallCpuUs = cpu;
    });
}

const QMap<QString, ScriptRunner::Verb>& ScriptRunner::verbs() {
    using S = ScriptRunner;
    static const QMap<QString, Verb> table{
        {"timeout",
         {1, false,
          [](S& r, const Step& s) {
              r.m_defaultTimeoutMs = s.args[0].toInt();
              return Status::Done;
          }}},
        {"select", {2, true, [](S& r, const Step& s) { return r.doSelect(s); }}},
        {"date",
         {2, false,
          [](S& r, const Step& s) {
              auto* e = qobject_cast<QDateEdit*>(findWidget(s.args[0]));
              const QDate d = QDate::fromString(s.args[1], "yyyy-MM-dd");
              if (e == nullptr || !d.isValid())
                  return r.fail(s, "no date edit or bad date");
              e->setDate(d);
              return Status::Done;
          }}},
        {"time",
         {2, false,
          [](S& r, const Step& s) {
              auto* e = qobject_cast<QTimeEdit*>(findWidget(s.args[0]));
              const QTime t = QTime::fromString(s.args[1], "HH:mm:ss");
              if (e == nullptr || !t.isValid())
                  return r.fail(s, "no time edit or bad time");
              e->setTime(t);
              return Status::Done;
          }}},
        {"type",
         {2, true,
          [](S& r, const Step& s) {
              auto* e = qobject_cast<QLineEdit*>(findWidget(s.args[0]));
              if (e == nullptr)
                  return Status::Pending;
              e->setText(s.args[1]);
              Q_UNUSED(r);
              return Status::Done;
          }}},
        {"click", {1, false, [](S& r, const Step& s) { return r.doClick(s); }}},
        {"slider", {2, false, [](S& r, const Step& s) { return r.doSlider(s); }}},
        {"wait",
         {1, false,
          [](S& r, const Step& s) {
              if (r.m_waitUntil == 0)
                  r.m_waitUntil = nowMs() + s.args[0].toInt();
              if (nowMs() < r.m_waitUntil)
                  return Status::Pending;
              r.m_waitUntil = 0;
              return Status::Done;
          }}},
        {"wait-text",
         {2, true, [](S& r, const Step& s) { return r.doWaitText(s.args[0], s.args[1]); }}},
        {"wait-status",
         {1, true, [](S& r, const Step& s) { return r.doWaitText("labelStatus", s.args[0]); }}},
        {"wait-count",
         {2, false,
          [](S&, const Step& s) {
              auto* c = qobject_cast<QComboBox*>(findWidget(s.args[0]));
              return c != nullptr && c->count() >= s.args[1].toInt() ? Status::Done
                                                                     : Status::Pending;
          }}},
        {"expect-text",
         {2, true,
          [](S& r, const Step& s) {
              QWidget* w = findWidget(s.args[0]);
              if (w != nullptr && widgetText(w).contains(s.args[1]))
                  return Status::Done;
              return r.fail(s, "text is \"" + (w ? widgetText(w) : QString("<no widget>")) + "\"");
          }}},
        {"wait-file", {3, true, [](S& r, const Step& s) { return r.doWaitFile(s); }}},
        {"wait-property",
         {4, false,
          [](S& r, const Step& s) {
              QString why;
              if (r.checkProperty(s, &why))
                  return Status::Done;
              return why.isEmpty() ? Status::Pending : r.fail(s, why);
          }}},
        {"expect-property",
         {4, false,
          [](S& r, const Step& s) {
              QString why;
              if (r.checkProperty(s, &why))
                  return Status::Done;
              return r.fail(s, why.isEmpty() ? "it is " + propertyText(s.args[0], s.args[1]) : why);
          }}},
        {"keep-property",
         {3, false,
          [](S& r, const Step& s) {
              const QVariant value = propertyValue(s.args[0], s.args[1]);
              if (!value.isValid())
                  return r.fail(s, "no such object or property");
              qputenv(s.args[2].toLocal8Bit().constData(), value.toString().toLocal8Bit());
              emit r.message(QString("kept %1 = %2").arg(s.args[2], value.toString()));
              return Status::Done;
          }}},
        {"dialog", {1, true, [](S& r, const Step& s) { return r.doDialog(s); }}},
        {"screenshot", {1, true, [](S& r, const Step& s) { return r.doScreenshot(s); }}},
        {"timeline", {2, true, [](S& r, const Step& s) { return r.doTimeline(s); }}},
        {"exec",
         {1, true,
          [](S& r, const Step& s) {
              const int rc = QProcess::execute("/bin/sh", {"-c", s.args[0]});
              if (rc == 0)
                  return Status::Done;
              return r.fail(s, QString("command exited with %1").arg(rc));
          }}},
        {"echo",
         {1, true,
          [](S& r, const Step& s) {
              emit r.message(s.args[0]);
              return Status::Done;
          }}},
        {"mark",
         {1, true,
          [](S& r, const Step& s) {
              emit r.message(QString("MARK %1 %2").arg(r.m_clock.elapsed()).arg(s.args[0]));
              return Status::Done;
          }}},
        {"stall-watch",
         {0, false,
          [](S& r, const Step&) {
              r.m_longestStall = 0;
              r.m_busiestStallUs = 0;
              r.m_lastStallTick = r.m_clock.elapsed();
              r.m_lastStallCpuUs = threadCpuUs();
              r.m_stallTimer.start();
              return Status::Done;
          }}},
        {"stall-report",
         {0, false,
          [](S& r, const Step&) {
              r.m_stallTimer.stop();
              emit r.message(QString("STALL %1 ms (the GUI thread busy at most %2 ms of a gap)")
                                 .arg(r.m_longestStall)
                                 .arg(r.m_busiestStallUs / 1000));
              return Status::Done;
          }}},
        {"save-items", {2, true, [](S& r, const Step& s) { return r.doSaveItems(s); }}},
        {"wait-colour", {3, false, [](S& r, const Step& s) { return r.doWaitColour(s); }}},
        {"quit",
         {0, false,
          [](S& r, const Step& s) {
              r.m_timer.stop();
              emit r.finished(s.args.isEmpty() ? 0 : s.args[0].toInt());
              return Status::Done;
          }}},
    };
    return table;
}

bool ScriptRunner::load(const QString& text) {
    m_steps.clear();
    const QStringList lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = expandEnvironment(lines[i], true).trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        Step step;
        step.line = i + 1;
        step.raw = line;
        step.verb = line.section(' ', 0, 0, QString::SectionSkipEmpty);
        const auto it = verbs().find(step.verb);
        if (it == verbs().end()) {
            m_error = QString("line %1: unknown action \"%2\"").arg(step.line).arg(step.verb);
            return false;
        }
        const QString rest = line.mid(step.verb.size()).trimmed();
        if (it->restIsText && it->minArgs > 0) {
            // The words before the last argument, then the rest of the line as one text.
            const int words = it->minArgs - 1;
            QStringList head = rest.split(' ', Qt::SkipEmptyParts).mid(0, words);
            QString tail = rest;
            for (int w = 0; w < words && !tail.isEmpty(); ++w)
                tail = tail.section(' ', 1, -1, QString::SectionSkipEmpty);
            step.args = head;
            if (!tail.isEmpty() && head.size() == words)
                step.args << tail;
        } else {
            step.args = rest.split(' ', Qt::SkipEmptyParts);
        }
        if (step.args.size() < it->minArgs) {
            m_error = QString("line %1: \"%2\" needs %3 argument(s)")
                          .arg(step.line)
                          .arg(step.verb)
                          .arg(it->minArgs);
            return false;
        }
        m_steps.push_back(step);
    }
    return true;
}

void ScriptRunner::start() {
    m_clock.start();
    m_index = 0;
    m_stepStarted = false;
    m_timer.start();
}

void ScriptRunner::tick() {
    if (m_busy)
        return;  // a nested event loop opened by an action ticks here too
    m_busy = true;
    runCurrentStep();
    m_busy = false;
}

void ScriptRunner::runCurrentStep() {
    if (m_index >= m_steps.size()) {
        m_timer.stop();
        emit finished(0);
        return;
    }
    if (!m_stepStarted) {
        m_stepStarted = true;
        // Variables that keep-property set since the script was read are known now.
        m_current = m_steps[m_index];
        for (QString& arg : m_current.args)
            arg = expandEnvironment(arg, false);
        m_current.raw = expandEnvironment(m_current.raw, false);
        m_fileSeen = FileSeen();
        m_stepDeadline = nowMs() + m_defaultTimeoutMs;
        emit message(QString("script: %1").arg(m_current.raw));
    }
    const Step& step = m_current;
    if (!m_timer.isActive())
        return;
    const Status status = verbs()[step.verb].run(*this, step);
    if (status == Status::Done) {
        ++m_index;
        m_stepStarted = false;
    } else if (status == Status::Pending && step.verb != "wait" && nowMs() > m_stepDeadline) {
        fail(step, QString("timed out after %1 ms").arg(m_defaultTimeoutMs));
    }
}

ScriptRunner::Status ScriptRunner::fail(const Step& step, const QString& why) {
    m_timer.stop();
    emit message(QString("script: line %1: %2 failed: %3").arg(step.line).arg(step.raw, why));
    emit finished(1);
    return Status::Failed;
}

QWidget* ScriptRunner::findWidget(const QString& name) {
    QWidget* hidden = nullptr;
    for (QWidget* w : QApplication::allWidgets()) {
        if (w->objectName() != name)
            continue;
        if (w->isVisible())
            return w;
        if (hidden == nullptr)
            hidden = w;
    }
    return hidden;
}

QObject* ScriptRunner::findObject(const QString& name) {
    if (QWidget* w = findWidget(name))
        return w;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (QObject* o = top->findChild<QObject*>(name))
            return o;
    }
    return nullptr;
}

QVariant ScriptRunner::propertyValue(const QString& object, const QString& name) {
    QObject* o = findObject(object);
    return o != nullptr ? o->property(name.toLatin1().constData()) : QVariant();
}

QString ScriptRunner::propertyText(const QString& object, const QString& name) {
    const QVariant value = propertyValue(object, name);
    return value.isValid() ? value.toString() : QString("<no such object or property>");
}

// OBJ NAME OP VALUE [TOLERANCE]: true when it holds; false with `why` set when the step can
// never hold (bad operator or number), false alone while it does not hold yet.
bool ScriptRunner::checkProperty(const Step& s, QString* why) {
    double wanted = 0, tolerance = 0;
    if (!parseSum(s.args[3], &wanted) || (s.args.size() > 4 && !parseSum(s.args[4], &tolerance))) {
        *why = "not a number: " + s.args.mid(3).join(' ');
        return false;
    }
    const QVariant value = propertyValue(s.args[0], s.args[1]);
    bool isNumber = false;
    const double actual = value.toDouble(&isNumber);
    if (!value.isValid() || !isNumber)
        return false;  // the object may not exist yet
    bool known = false;
    const bool holds = compareValues(s.args[2], actual, wanted, tolerance, &known);
    if (!known)
        *why = "unknown comparison " + s.args[2];
    return holds;
}

QString ScriptRunner::widgetText(const QWidget* w) {
    if (auto* l = qobject_cast<const QLabel*>(w))
        return l->text();
    if (auto* b = qobject_cast<const QAbstractButton*>(w))
        return b->text();
    if (auto* e = qobject_cast<const QLineEdit*>(w))
        return e->text();
    if (auto* c = qobject_cast<const QComboBox*>(w))
        return c->currentText();
    if (auto* s = qobject_cast<const QAbstractSlider*>(w))
        return QString::number(s->value());
    return w->windowTitle();
}

ScriptRunner::Status ScriptRunner::doSelect(const Step& s) {
    auto* combo = qobject_cast<QComboBox*>(findWidget(s.args[0]));
    if (combo == nullptr)
        return Status::Pending;
    const QString& what = s.args[1];
    int index = -1;
    if (what.startsWith('#')) {
        index = what.mid(1).toInt();
        if (index >= combo->count())
            index = -1;
    } else {
        index = combo->findText(what);
    }
    if (index < 0)
        return Status::Pending;  // the catalogue may still be arriving
    combo->setCurrentIndex(index);
    return Status::Done;
}

ScriptRunner::Status ScriptRunner::doClick(const Step& s) {
    auto* button = qobject_cast<QAbstractButton*>(findWidget(s.args[0]));
    if (button == nullptr || !button->isEnabled())
        return Status::Pending;
    // Queued, so a modal dialog the click opens runs its loop outside this action.
    QMetaObject::invokeMethod(button, "click", Qt::QueuedConnection);
    return Status::Done;
}

ScriptRunner::Status ScriptRunner::doSlider(const Step& s) {
    auto* slider = qobject_cast<QAbstractSlider*>(findWidget(s.args[0]));
    if (slider == nullptr)
        return Status::Pending;
    slider->setSliderDown(true);
    slider->setValue(s.args[1].toInt());
    slider->setSliderDown(false);  // emits sliderReleased, as a drag ends
    return Status::Done;
}

ScriptRunner::Status ScriptRunner::doWaitText(const QString& object, const QString& text) {
    QWidget* w = findWidget(object);
    return w != nullptr && widgetText(w).contains(text) ? Status::Done : Status::Pending;
}

ScriptRunner::Status ScriptRunner::doWaitFile(const Step& s) {
    // Each look reads only what the file gained since the last one, so looking on every tick
    // costs little even for a long log, and a step's time is known to a tick.
    QFile file(s.args[0]);
    if (!file.open(QIODevice::ReadOnly))
        return Status::Pending;
    if (file.size() < m_fileSeen.offset)
        m_fileSeen = FileSeen();  // rotated or truncated: from the start again
    file.seek(m_fileSeen.offset);
    const QByteArray text = s.args[2].toUtf8();
    QByteArray chunk = m_fileSeen.partial + file.readAll();
    m_fileSeen.offset = file.pos();
    const int lastEnd = chunk.lastIndexOf('\n');
    m_fileSeen.partial = chunk.mid(lastEnd + 1);
    chunk.truncate(lastEnd + 1);
    for (const QByteArray& line : chunk.split('\n'))
        if (line.contains(text))
            ++m_fileSeen.matches;
    return m_fileSeen.matches < s.args[1].toInt() ? Status::Pending : Status::Done;
}

ScriptRunner::Status ScriptRunner::doDialog(const Step& s) {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && qobject_cast<QDialog*>(w) != nullptr)
                modal = w;
    }
    if (modal == nullptr || !dialogText(modal).contains(s.args[0]))
        return Status::Pending;
    closeDialog(modal);
    return Status::Done;
}

QString ScriptRunner::outputPath(const QString& path) const {
    if (QDir::isRelativePath(path) && !m_outputDir.isEmpty())
        return m_outputDir + "/" + path;
    return path;
}

ScriptRunner::Status ScriptRunner::doScreenshot(const Step& s) {
    const QString path = outputPath(s.args[0]);
    if (m_window == nullptr || !m_window->grab().save(path, "PNG")) {
        return fail(s, "cannot write " + path);
    }
    emit message("screenshot: " + path);
    return Status::Done;
}

// The console's slider says what it shows as its "timeline" property (the host does not link
// against the console): "unknown" until the platform has answered for the chosen span.
ScriptRunner::Status ScriptRunner::doTimeline(const Step& s) {
    const QVariant value = propertyValue(s.args[0], "timeline");
    if (!value.isValid() || value.toString() == "unknown")
        return Status::Pending;
    QFile file(outputPath(s.args[1]));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(value.toString().toUtf8() + "\n") < 0)
        return fail(s, "cannot write " + file.fileName());
    emit message("timeline: " + file.fileName());
    return Status::Done;
}

namespace {

QString itemColour(const QComboBox* combo, int i) {
    const QVariant brush = combo->itemData(i, Qt::ForegroundRole);
    return brush.isValid() ? brush.value<QBrush>().color().name() : QStringLiteral("-");
}

}  // namespace

ScriptRunner::Status ScriptRunner::doWaitColour(const Step& s) {
    auto* combo = qobject_cast<QComboBox*>(findWidget(s.args[0]));
    const int i = combo == nullptr ? -1 : combo->findData(s.args[1]);
    return i >= 0 && itemColour(combo, i) == s.args[2] ? Status::Done : Status::Pending;
}

ScriptRunner::Status ScriptRunner::doSaveItems(const Step& s) {
    auto* combo = qobject_cast<QComboBox*>(findWidget(s.args[0]));
    if (combo == nullptr)
        return fail(s, "no combo box");
    QFile file(s.args[1]);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return fail(s, "cannot write " + s.args[1]);
    QByteArray out;
    for (int i = 0; i < combo->count(); ++i) {
        out += (combo->itemData(i).toString() + ' ' + itemColour(combo, i) + ' ' +
                combo->itemText(i) + '\n')
                   .toUtf8();
    }
    if (file.write(out) < 0)
        return fail(s, "cannot write " + s.args[1]);
    return Status::Done;
}
