#include "platform/xdg_autostart.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/files.h"

using namespace pimsel;
using namespace pimsel::testing;

namespace {

class XdgAutostartTest : public ::testing::Test {
protected:
    void SetUp() override { qputenv("XDG_CONFIG_HOME", m_dir.path().toUtf8()); }
    void TearDown() override {
        m_hadConfigHome ? qputenv("XDG_CONFIG_HOME", m_oldConfigHome) : qunsetenv("XDG_CONFIG_HOME");
    }

    QString entryPath() const { return m_dir.filePath(QStringLiteral("autostart/pimsel.desktop")); }
    void writeEntry(const QByteArray& text) { ASSERT_TRUE(writeFile(entryPath(), text)); }
    QByteArray entryFile() const { return readFile(entryPath()); }
    QByteArray execLine() const {
        const qsizetype at = entryFile().indexOf("\nExec=");
        return at < 0 ? QByteArray() : entryFile().mid(at + 6).split('\n').first();
    }

    QTemporaryDir m_dir;
    const bool m_hadConfigHome = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    const QByteArray m_oldConfigHome = qgetenv("XDG_CONFIG_HOME");
};

const QString program = QStringLiteral("/opt/pimsel/bin/pimsel");

} // namespace

// Each program path as the Exec key reads it back; an entry of ours hidden before is replaced. By
// default the entry starts the running binary. (The preferences switch is the preferences test's.)
TEST_F(XdgAutostartTest, ExecQuotesAndEscapesTheProgramPath) {
    const struct {
        QString path;
        QByteArray exec;
    } cases[] = {
        {QStringLiteral("/usr/bin/pimsel"), "/usr/bin/pimsel"},
        {QStringLiteral("/home/a b/pimsel"), "\"/home/a b/pimsel\""},
        {QStringLiteral("/tmp/$HOME/pim\"sel"), "\"/tmp/\\\\$HOME/pim\\\\\"sel\""},
        {QStringLiteral("/tmp/back\\slash/pimsel"), "\"/tmp/back\\\\\\\\slash/pimsel\""},
        {QStringLiteral("/tmp/100%/pimsel"), "/tmp/100%%/pimsel"},
        {QStringLiteral("/tmp/it's/`x`/pimsel"), "\"/tmp/it's/\\\\`x\\\\`/pimsel\""},
        {QStringLiteral("/tmp/new\nline/ü/pimsel"), "\"/tmp/new\\nline/ü/pimsel\""},
    };
    ASSERT_TRUE(XdgAutostart().registerItem());
    EXPECT_TRUE(entryFile().startsWith("[Desktop Entry]\n") && entryFile().contains("\nType=Application\n"));
    EXPECT_EQ(XdgAutostart::splitExecValue(QString::fromUtf8(execLine())),
              QStringList{QCoreApplication::applicationFilePath()});
    for (const auto& c : cases) {
        XdgAutostart autostart(c.path);
        writeEntry("[Desktop Entry]\nHidden=true\n");
        ASSERT_TRUE(autostart.registerItem());
        EXPECT_EQ(execLine(), c.exec) << c.path.toStdString();
        EXPECT_EQ(XdgAutostart::splitExecValue(QString::fromUtf8(execLine())), QStringList{c.path});
        EXPECT_TRUE(autostart.isRegistered()) << c.path.toStdString();
        EXPECT_FALSE(XdgAutostart(program).isRegistered()) << "another program's entry is not ours";
    }
}

// Ours to replace and remove is an entry starting this program, hidden or not; nothing else.
TEST_F(XdgAutostartTest, OnlyAVisibleEntryStartingThisProgramCounts) {
    const struct {
        QByteArray text;
        bool registered, ours = false;
    } cases[] = {
        {"[Desktop Entry]\nType=Application\nExec=/opt/pimsel/bin/pimsel\n", true, true},
        {"# comment\n[Desktop Entry]\nExec = /opt/pimsel/bin/pimsel --flag\nHidden=false\n", true, true},
        {"[Desktop Entry]\nExec=/opt/pimsel/bin/pimsel\nHidden=true\n", false, true},
        {"[Desktop Entry]\nExec=/usr/bin/other\n", false},
        {"[Desktop Entry]\nExec=\"/opt/pimsel/bin/pimsel\n", false},
        {"[Desktop Entry]\nExec=\"/opt/pimsel/bin/pimsel\" --quiet %u\n", true, true},
        {"[Desktop Entry]\nExec=/opt/pimsel\\sbin/pimsel\n", false}, // an escaped space still separates
        {"[Something Else]\nExec=/opt/pimsel/bin/pimsel\n", false},
        {"[Desktop Entry]\nType=Application\n[Desktop Action x]\nExec=/opt/pimsel/bin/pimsel\n", false},
    };
    for (const auto& c : cases) {
        writeEntry(c.text);
        EXPECT_EQ(XdgAutostart(program).isRegistered(), c.registered) << c.text.toStdString();
        EXPECT_TRUE(XdgAutostart(program).unregisterItem());
        EXPECT_EQ(QFile::exists(entryPath()), !c.ours) << c.text.toStdString();
    }
}
