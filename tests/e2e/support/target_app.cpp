#include "tests/e2e/support/target_app.h"

#include "tests/e2e/support/desktop.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>

#include <csignal>

namespace pimsel::e2e {

TargetApp::TargetApp(Kind kind, QStringList extraArgs, const QString& script)
    : kind_(kind)
    , process_(std::make_unique<QProcess>()) {
    outPath_ = dir_.filePath(QStringLiteral("field.txt"));
    QStringList args;
    QString program;
    if (kind == Kind::qt) {
        program = QStringLiteral(PIMSEL_E2E_QT_FIELD);
    } else if (kind == Kind::gtk) {
        program = QStringLiteral("/usr/bin/python3");
        // The system interpreter: the GTK bindings are a Debian package.
        args << (script.isEmpty() ? gtkScript() : script);
    } else {
        program = QStringLiteral("/usr/bin/python3");
        args << QStringLiteral(PIMSEL_E2E_SOURCE_DIR "/targets/browser_page.py")
             << QStringLiteral("--browser") << kindName(kind);
    }
    args << QStringLiteral("--out") << outPath_ << extraArgs;
    process_->setProcessChannelMode(QProcess::SeparateChannels);
    process_->start(program, args);
    if (!process_->waitForStarted(5000)) {
        diagnostics_ = QStringLiteral("could not start ") + program;
        return;
    }
    QDeadlineTimer deadline(isBrowser() ? 60000 : 20000);
    QByteArray seen;
    while (!deadline.hasExpired() && process_->state() == QProcess::Running) {
        if (!process_->canReadLine())
            process_->waitForReadyRead(100);
        while (process_->canReadLine()) {
            const QByteArray line = process_->readLine().trimmed();
            seen += line + '\n';
            if (line.startsWith("READY ")) {
                window_ = line.mid(6).toUInt();
                return;
            }
        }
    }
    diagnostics_ = QStringLiteral("no READY line; stdout: ") + QString::fromUtf8(seen) +
                   QStringLiteral(" stderr: ") + QString::fromUtf8(process_->readAllStandardError());
}

TargetApp::~TargetApp() {
    if (stopped_)
        resume();
    if (process_->state() != QProcess::NotRunning) {
        process_->terminate();
        if (!process_->waitForFinished(3000)) {
            process_->kill();
            process_->waitForFinished(1000);
        }
    }
}

void TargetApp::stop() {
    ::kill(pid_t(pid()), SIGSTOP);
    stopped_ = true;
}

void TargetApp::resume() {
    ::kill(pid_t(pid()), SIGCONT);
    stopped_ = false;
}

namespace {
QString contents(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}
} // namespace

QString TargetApp::text() const {
    return contents(outPath_);
}

QString TargetApp::passwordText() const {
    return contents(outPath_ + QStringLiteral(".password"));
}

QString TargetApp::waitForText(const QString& expected, std::chrono::milliseconds patience) const {
    QString current;
    pumpUntil([&] { return (current = text()) == expected; }, patience);
    return current;
}

QString TargetApp::settledText(std::chrono::milliseconds quiet) const {
    QString last = text();
    QElapsedTimer stable;
    stable.start();
    pumpUntil(
        [&] {
            if (const QString now = text(); now != last) {
                last = now;
                stable.restart();
            }
            return stable.elapsed() >= quiet.count();
        },
        std::chrono::seconds(5));
    return last;
}

} // namespace pimsel::e2e
