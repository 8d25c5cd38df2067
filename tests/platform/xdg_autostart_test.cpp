#include "platform/xdg_autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace pimsel;

namespace {

class XdgAutostartTest : public ::testing::Test {
protected:
    void SetUp() override { qputenv("XDG_CONFIG_HOME", m_dir.path().toUtf8()); }
    void TearDown() override {
        m_hadConfigHome ? qputenv("XDG_CONFIG_HOME", m_oldConfigHome) : qunsetenv("XDG_CONFIG_HOME");
    }

    QString entryPath() const { return m_dir.filePath(QStringLiteral("autostart/pimsel.desktop")); }
    void writeEntry(const QByteArray& text) {
        ASSERT_TRUE(QDir().mkpath(m_dir.filePath(QStringLiteral("autostart"))));
        QFile file(entryPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }
    QByteArray entryFile() const {
        QFile file(entryPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
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

// By default the entry starts the running binary. Ours to replace and remove is an entry starting
// this program, hidden or not; nothing else. (The preferences switch is the preferences test's.)
TEST_F(XdgAutostartTest, WritesAVisibleEntryAndUnregisterRemovesOnlyOurs) {
    ASSERT_TRUE(XdgAutostart().registerItem());
    EXPECT_TRUE(entryFile().startsWith("[Desktop Entry]\n") && entryFile().contains("\nType=Application\n"));
    EXPECT_EQ(XdgAutostart::splitExecValue(QString::fromUtf8(execLine())),
              QStringList{QCoreApplication::applicationFilePath()});

    XdgAutostart autostart(program);

    const QByteArray foreign = "[Desktop Entry]\nExec=/usr/bin/other\n";
    writeEntry(foreign);
    EXPECT_TRUE(autostart.unregisterItem());
    EXPECT_EQ(entryFile(), foreign);
    writeEntry("[Desktop Entry]\nExec=/opt/pimsel/bin/pimsel\nHidden=true\n");
    ASSERT_TRUE(autostart.registerItem());
    EXPECT_TRUE(autostart.isRegistered());
    EXPECT_FALSE(entryFile().contains("Hidden"));
    writeEntry("[Desktop Entry]\nExec=/opt/pimsel/bin/pimsel\nHidden=true\n");
    EXPECT_TRUE(autostart.unregisterItem());
    EXPECT_FALSE(QFile::exists(entryPath())) << "a hidden entry of ours is still ours to remove";
}

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
    for (const auto& c : cases) {
        XdgAutostart autostart(c.path);
        ASSERT_TRUE(autostart.registerItem());
        EXPECT_EQ(execLine(), c.exec) << c.path.toStdString();
        EXPECT_EQ(XdgAutostart::splitExecValue(QString::fromUtf8(execLine())), QStringList{c.path});
        EXPECT_TRUE(autostart.isRegistered()) << c.path.toStdString();
        EXPECT_FALSE(XdgAutostart(program).isRegistered()) << "another program's entry is not ours";
    }
}

TEST_F(XdgAutostartTest, OnlyAVisibleEntryStartingThisProgramCounts) {
    const struct {
        QByteArray text;
        bool registered;
    } cases[] = {
        {"[Desktop Entry]\nType=Application\nExec=/opt/pimsel/bin/pimsel\n", true},
        {"# comment\n[Desktop Entry]\nExec = /opt/pimsel/bin/pimsel --flag\nHidden=false\n", true},
        {"[Desktop Entry]\nExec=/opt/pimsel/bin/pimsel\nHidden=true\n", false},
        {"[Desktop Entry]\nExec=/usr/bin/other\n", false},
        {"[Desktop Entry]\nExec=\"/opt/pimsel/bin/pimsel\n", false},
        {"[Desktop Entry]\nExec=\"/opt/pimsel/bin/pimsel\" --quiet %u\n", true},
        {"[Desktop Entry]\nExec=/opt/pimsel\\sbin/pimsel\n", false}, // an escaped space still separates
        {"[Something Else]\nExec=/opt/pimsel/bin/pimsel\n", false},
        {"[Desktop Entry]\nType=Application\n[Desktop Action x]\nExec=/opt/pimsel/bin/pimsel\n", false},
    };
    for (const auto& c : cases) {
        writeEntry(c.text);
        EXPECT_EQ(XdgAutostart(program).isRegistered(), c.registered) << c.text.toStdString();
    }
}
