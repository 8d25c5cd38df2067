#pragma once

// Starts one of the target applications (a GTK entry, a Qt line edit or a page's input in Chromium
// or Firefox) and reads its field back from the file the application mirrors its text into,
// independently of anything under test. With "--login" (GTK and the browsers) a password field
// comes first and has the focus; the ordinary field follows it. `script` runs a copy of the GTK
// target under a program name of its own.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace pimsel::e2e {

class TargetApp {
public:
    enum class Kind { gtk, qt, chromium, firefox };

    explicit TargetApp(Kind kind, QStringList extraArgs = {}, const QString& script = {});
    ~TargetApp();
    TargetApp(const TargetApp&) = delete;
    TargetApp& operator=(const TargetApp&) = delete;

    bool isReady() const { return window_ != 0; }
    std::uint32_t window() const { return window_; }
    qint64 pid() const { return process_->processId(); }
    // SIGSTOP and SIGCONT: a hung application, and one that answers again.
    void stop();
    void resume();
    bool isBrowser() const { return kind_ == Kind::chromium || kind_ == Kind::firefox; }
    QString diagnostics() const { return diagnostics_; }

    // The field's text as last written by the application.
    QString text() const;
    // The password field's text, with "--login".
    QString passwordText() const;
    // Polls the field until it reads `expected` or `patience` ran out; returns what it read last.
    QString waitForText(const QString& expected,
                        std::chrono::milliseconds patience = std::chrono::seconds(4)) const;
    // Lets the field settle: returns once its text has not changed for `quiet`.
    QString settledText(std::chrono::milliseconds quiet = std::chrono::milliseconds(300)) const;

    static QString gtkScript() { return QStringLiteral(PIMSEL_E2E_SOURCE_DIR "/targets/gtk_entry.py"); }
    static QString kindName(Kind kind) {
        static const char* const names[] = {"gtk", "qt", "chromium", "firefox"};
        return QString::fromLatin1(names[static_cast<int>(kind)]);
    }

private:
    Kind kind_;
    QTemporaryDir dir_;
    QString outPath_;
    std::unique_ptr<QProcess> process_;
    std::uint32_t window_ = 0;
    QString diagnostics_;
    bool stopped_ = false;
};

// Names the cases of a test over target kinds.
inline constexpr auto targetName = [](const auto& info) {
    return TargetApp::kindName(info.param).toStdString();
};

} // namespace pimsel::e2e
