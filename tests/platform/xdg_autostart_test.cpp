#include "engine/settings_store.h"
#include "platform/xdg_autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace pimsel;

namespace {

class XdgAutostartTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_hadConfigHome = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        m_oldConfigHome = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", m_dir.path().toUtf8());
    }
    void TearDown() override {
        if (m_hadConfigHome)
            qputenv("XDG_CONFIG_HOME", m_oldConfigHome);
        else
            qunsetenv("XDG_CONFIG_HOME");
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
        const QList<QByteArray> lines = entryFile().split('\n');
        for (const QByteArray& line : lines)
            if (line.startsWith("Exec="))
                return line.mid(5);
        return {};
    }

    QTemporaryDir m_dir;
    bool m_hadConfigHome = false;
    QByteArray m_oldConfigHome;
};

const QString program = QStringLiteral("/opt/pimsel/bin/pimsel");

} // namespace

TEST_F(XdgAutostartTest, RegisterWritesTheEntryUnderTheConfigHomeAndUnregisterRemovesIt) {
    XdgAutostart autostart(program);
    EXPECT_EQ(autostart.entryPath(), entryPath());
    EXPECT_FALSE(autostart.isRegistered());

    ASSERT_TRUE(autostart.registerItem());
    EXPECT_TRUE(autostart.isRegistered());
    const QList<QByteArray> lines = entryFile().split('\n');
    EXPECT_EQ(lines.first(), QByteArray("[Desktop Entry]"));
    for (const char* expected : {"Type=Application", "Name=Pimsel", "Exec=/opt/pimsel/bin/pimsel",
                                 "X-GNOME-Autostart-enabled=true", "NoDisplay=false"})
        EXPECT_TRUE(lines.contains(QByteArray(expected))) << expected;
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [](const QByteArray& l) { return l.startsWith("Comment="); }));
    EXPECT_FALSE(entryFile().contains("Hidden"));

    ASSERT_TRUE(autostart.unregisterItem());
    EXPECT_FALSE(QFile::exists(entryPath()));
    EXPECT_FALSE(autostart.isRegistered());
    EXPECT_TRUE(autostart.unregisterItem()) << "nothing to remove is not a failure";
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

TEST_F(XdgAutostartTest, SplittingReadsWhatOtherWritersProduce) {
    using Args = std::optional<QStringList>;
    EXPECT_EQ(XdgAutostart::splitExecValue(QStringLiteral("/usr/bin/pimsel --quiet %u")),
              Args(QStringList{"/usr/bin/pimsel", "--quiet", "%u"}));
    EXPECT_EQ(XdgAutostart::splitExecValue(QStringLiteral("\"/a b/pimsel\"  x")),
              Args(QStringList{"/a b/pimsel", "x"}));
    // \s is a string escape; the space it yields still separates arguments unless quoted.
    EXPECT_EQ(XdgAutostart::splitExecValue(QStringLiteral("/a\\sb")), Args(QStringList{"/a", "b"}));
    EXPECT_EQ(XdgAutostart::splitExecValue(QStringLiteral("\"/a\\sb\"")), Args(QStringList{"/a b"}));
    EXPECT_EQ(XdgAutostart::splitExecValue(QStringLiteral("\"/a b/pimsel")), std::nullopt);
}

TEST_F(XdgAutostartTest, OnlyAVisibleEntryStartingThisProgramCounts) {
    const struct {
        QByteArray text;
        bool registered;
    } cases[] = {
        {"[Desktop Entry]\nType=Application\nExec=/opt/pimsel/bin/pimsel\n", true},
        {"# comment\n[Desktop Entry]\nExec = /opt/pimsel/bin/pimsel --flag\nHidden=false\n", true},
        {"[Desktop Entry]\nExec=\"/opt/pimsel/bin/pimsel\"\n", true},
        {"[Desktop Entry]\nExec=/opt/pimsel/bin/pimsel\nHidden=true\n", false},
        {"[Desktop Entry]\nExec=/usr/bin/other\n", false},
        {"[Desktop Entry]\nExec=\"/opt/pimsel/bin/pimsel\n", false},
        {"[Desktop Entry]\nName=Pimsel\n", false},
        {"[Something Else]\nExec=/opt/pimsel/bin/pimsel\n", false},
        {"[Desktop Entry]\nType=Application\n[Desktop Action x]\nExec=/opt/pimsel/bin/pimsel\n", false},
        {"", false},
    };
    for (const auto& c : cases) {
        writeEntry(c.text);
        EXPECT_EQ(XdgAutostart(program).isRegistered(), c.registered) << c.text.toStdString();
    }
}

TEST_F(XdgAutostartTest, UnregisterLeavesForeignEntriesAndRegisterReplacesHiddenOnes) {
    const QByteArray foreign = "[Desktop Entry]\nExec=/usr/bin/other\n";
    writeEntry(foreign);
    XdgAutostart autostart(program);
    EXPECT_TRUE(autostart.unregisterItem());
    EXPECT_EQ(entryFile(), foreign);

    writeEntry("[Desktop Entry]\nExec=/opt/pimsel/bin/pimsel\nHidden=true\n");
    EXPECT_FALSE(autostart.isRegistered());
    ASSERT_TRUE(autostart.registerItem());
    EXPECT_TRUE(autostart.isRegistered());
    EXPECT_FALSE(entryFile().contains("Hidden"));

    writeEntry("[Desktop Entry]\nExec=/opt/pimsel/bin/pimsel\nHidden=true\n");
    EXPECT_TRUE(autostart.unregisterItem());
    EXPECT_FALSE(QFile::exists(entryPath())) << "a hidden entry of ours is still ours to remove";
}

TEST_F(XdgAutostartTest, RegisterFailsWhenTheDirectoryCannotBeMade) {
    // A plain file where the autostart directory should be.
    QFile blocker(m_dir.filePath(QStringLiteral("autostart")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    XdgAutostart autostart(program);
    EXPECT_FALSE(autostart.registerItem());
    EXPECT_FALSE(autostart.isRegistered());
}

TEST_F(XdgAutostartTest, DefaultsToTheRunningBinaryAndDrivesTheSettingsSwitch) {
    XdgAutostart autostart;
    EXPECT_EQ(autostart.programPath(), QCoreApplication::applicationFilePath());

    QSettings settings(m_dir.filePath(QStringLiteral("pimsel.conf")), QSettings::IniFormat);
    SettingsStore store(&settings, &autostart);
    EXPECT_FALSE(store.launchAtLogin());
    store.setLaunchAtLogin(true);
    EXPECT_TRUE(store.launchAtLogin());
    EXPECT_EQ(XdgAutostart::splitExecValue(QString::fromUtf8(execLine())),
              QStringList{QCoreApplication::applicationFilePath()});
    store.setLaunchAtLogin(false);
    EXPECT_FALSE(QFile::exists(entryPath()));
}
