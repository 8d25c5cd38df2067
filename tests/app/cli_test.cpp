#include "app/cli.h"
#include "app/settings_location.h"
#include "engine/emoji_store.h"
#include "engine/settings_store.h"

#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>

#include <gtest/gtest.h>

using namespace pimsel;

namespace {

const QByteArray catalogue = R"([
  {"emoji":"😄","name":"grinning face with smiling eyes","aliases":["smile"],"category":"Smileys","supportsSkinTones":false},
  {"emoji":"😃","name":"grinning face with big eyes","aliases":["smiley"],"category":"Smileys","supportsSkinTones":false},
  {"emoji":"🎉","name":"party popper","aliases":["tada"],"category":"Activities","supportsSkinTones":false},
  {"emoji":"👎","name":"thumbs down","aliases":["-1","thumbsdown"],"category":"People","supportsSkinTones":true},
  {"emoji":"🫠","name":"melting face","aliases":[],"category":"Smileys","supportsSkinTones":false},
  {"emoji":"😐","name":"neutral face","aliases":["neutral_face"],"category":"Smileys","supportsSkinTones":false},
  {"emoji":"😑","name":"expressionless face","aliases":["expressionless"],"category":"Smileys","supportsSkinTones":false},
  {"emoji":"😶","name":"face without mouth","aliases":["no_mouth"],"category":"Smileys","supportsSkinTones":false},
  {"emoji":"🙃","name":"upside-down face","aliases":["upside_down_face"],"category":"Smileys","supportsSkinTones":false}
])";

struct CliRun {
    int status = -1;
    QString out;
    QString err;
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_hadConfigHome = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        m_oldConfigHome = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toUtf8());
        QFile file(m_dir.filePath(QStringLiteral("emoji.json")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(catalogue);
    }
    void TearDown() override {
        if (m_hadConfigHome)
            qputenv("XDG_CONFIG_HOME", m_oldConfigHome);
        else
            qunsetenv("XDG_CONFIG_HOME");
    }

    CliRun run(const QStringList& arguments) {
        CliRun result;
        QTextStream out(&result.out);
        QTextStream err(&result.err);
        result.status = runCli(arguments, out, err, CliOptions{m_dir.filePath(QStringLiteral("emoji.json"))});
        out.flush();
        err.flush();
        return result;
    }

    // Settings written as the desktop application writes them, into the file the CLI reads.
    void useEmoji(const QString& emoji, int times) {
        QSettings settings(settingsFilePath(), QSettings::IniFormat);
        EmojiStore store(&settings, m_dir.filePath(QStringLiteral("emoji.json")));
        for (int i = 0; i < times; ++i)
            store.recordUse(emoji);
    }

    void addAlias(const QString& alias, const QString& emoji) {
        QSettings settings(settingsFilePath(), QSettings::IniFormat);
        SettingsStore store(&settings);
        store.setCustomAliases(store.customAliases() +
                               QList<CustomAlias>{{QUuid::createUuid(), alias, emoji}});
    }

    QTemporaryDir m_dir;
    bool m_hadConfigHome = false;
    QByteArray m_oldConfigHome;
};

} // namespace

TEST_F(CliTest, UsageErrorsExitWithTwoAndExplainOnStandardError) {
    const QList<QStringList> misuses{
        {},
        {"frobnicate"},
        {"--bogus"},
        {"search", "--verbose", "smi"},
        {"search", "--limit", "-1", "smi"},
        {"search", "--limit", "six", "smi"},
        {"search", "--limit=2x", "smi"},
        {"search", "--limit", "99999999999", "smi"},
        {"search", "smi", "--limit"},
        {"exact"},
        {"exact", "--limit", "2", "tada"},
    };
    for (const QStringList& arguments : misuses) {
        const CliRun r = run(arguments);
        EXPECT_EQ(r.status, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << arguments.join(' ').toStdString();
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("pimsel: "))) << r.err.toStdString();
    }
    EXPECT_TRUE(run({"search", "--limit", "x", "smi"}).err.contains(QStringLiteral("'x'")));
    EXPECT_TRUE(run({"frobnicate"}).err.contains(QStringLiteral("frobnicate")));
}

TEST_F(CliTest, HelpAndVersionSucceedOnStandardOutput) {
    for (const QStringList& arguments : QList<QStringList>{{"--help"}, {"-h"}, {"search", "--help"}}) {
        const CliRun r = run(arguments);
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(r.out.startsWith(QStringLiteral("Usage: pimsel"))) << r.out.toStdString();
        EXPECT_TRUE(r.out.contains(settingsFilePath()));
        EXPECT_TRUE(r.err.isEmpty());
    }
    for (const QStringList& arguments : QList<QStringList>{{"--version"}, {"-v"}}) {
        const CliRun r = run(arguments);
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(
            QRegularExpression(QStringLiteral("^pimsel \\d+\\.\\d+\\.\\d+\\n$")).match(r.out).hasMatch())
            << r.out.toStdString();
    }
}

TEST_F(CliTest, ExactPrintsTheClosingTriggerEmojiOrFailsQuietly) {
    const struct {
        QStringList arguments;
        int status;
        QString out;
    } cases[] = {
        {{"exact", "tada"}, 0, QStringLiteral("🎉\n")},
        {{"exact", ":TADA:"}, 0, QStringLiteral("🎉\n")},
        {{"exact", "party", "popper"}, 0, QStringLiteral("🎉\n")},
        {{"exact", "--", "-1"}, 0, QStringLiteral("👎\n")},
        {{"exact", "tad"}, 1, QString()},
        {{"exact", "zzzznotathing"}, 1, QString()},
    };
    for (const auto& c : cases) {
        const CliRun r = run(c.arguments);
        EXPECT_EQ(r.status, c.status) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(r.out, c.out) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(r.err.isEmpty());
    }
}

TEST_F(CliTest, SearchPrintsEmojiTabPrimaryShortcodeBestFirst) {
    EXPECT_EQ(run({"search", "smi"}).out, QStringLiteral("😄\tsmile\n😃\tsmiley\n"));
    EXPECT_EQ(run({"search", "melting", "face"}).out, QStringLiteral("🫠\tmelting face\n"))
        << "an entry without aliases shows its name";
    EXPECT_EQ(run({"search", "-1"}).status, 2) << "an option-like word needs --";
    EXPECT_EQ(run({"search", "--", "-1"}).out, QStringLiteral("👎\t-1\n"));
    const CliRun none = run({"search", "zzzz"});
    EXPECT_EQ(none.status, 0);
    EXPECT_TRUE(none.out.isEmpty());
}

TEST_F(CliTest, LimitBoundsTheResults) {
    // Seven entries mention "face"; the default shows six of them.
    const struct {
        QStringList arguments;
        int lines;
    } cases[] = {
        {{"search", "face"}, 6},
        {{"search", "--limit", "2", "face"}, 2},
        {{"search", "--limit=1", "face"}, 1},
        {{"search", "face", "--limit", "3"}, 3},
        {{"search", "--limit", "0", "face"}, 0},
        {{"search", "--limit", "50", "face"}, 7},
    };
    for (const auto& c : cases) {
        const CliRun r = run(c.arguments);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.count(QLatin1Char('\n')), c.lines) << c.arguments.join(' ').toStdString();
    }
    EXPECT_EQ(run({"search", "--limit", "1", "face"}).out,
              run({"search", "face"}).out.section('\n', 0, 0) + '\n');
}

TEST_F(CliTest, OutputThatCannotBeWrittenFailsWithAMessage) {
    QFile full(QStringLiteral("/dev/full"));
    ASSERT_TRUE(full.open(QIODevice::WriteOnly));
    const struct {
        QStringList arguments;
        int status;
    } cases[] = {{{"search", "smi"}, 1}, {{"exact", "tada"}, 1}, {{"--version"}, 1}, {{"search", "zzzz"}, 0}};
    for (const auto& c : cases) {
        QTextStream out(&full);
        QString errText;
        QTextStream err(&errText);
        EXPECT_EQ(runCli(c.arguments, out, err, CliOptions{m_dir.filePath(QStringLiteral("emoji.json"))}),
                  c.status)
            << c.arguments.join(' ').toStdString();
        err.flush();
        EXPECT_EQ(errText.startsWith(QStringLiteral("pimsel: cannot write")), c.status != 0)
            << errText.toStdString();
    }
}

TEST_F(CliTest, UseCountsFromTheSettingsFileReorderResults) {
    EXPECT_TRUE(run({"search"}).out.isEmpty()) << "no use counts: nothing most used";
    useEmoji(QStringLiteral("😃"), 1);
    EXPECT_EQ(run({"search", "smi"}).out, QStringLiteral("😃\tsmiley\n😄\tsmile\n"));
    useEmoji(QStringLiteral("🎉"), 3);
    EXPECT_EQ(run({"search"}).out, QStringLiteral("🎉\ttada\n😃\tsmiley\n"));
}

TEST_F(CliTest, CustomAliasesFromTheSettingsFileAreSearchable) {
    addAlias(QStringLiteral("yay"), QStringLiteral("🎉"));
    addAlias(QStringLiteral("rocket"), QStringLiteral("🚀"));
    EXPECT_EQ(run({"exact", "yay"}).out, QStringLiteral("🎉\n"));
    EXPECT_EQ(run({"exact", "tada"}).out, QStringLiteral("🎉\n")) << "the catalogue alias still works";
    EXPECT_EQ(run({"search", "yay"}).out, QStringLiteral("🎉\tyay\n"));
    EXPECT_EQ(run({"search", "rock"}).out, QStringLiteral("🚀\trocket\n"));
}

TEST_F(CliTest, ReadsTheSettingsOfTheConfigHomeAndNeverWritesThem) {
    EXPECT_EQ(settingsFilePath(), m_dir.filePath(QStringLiteral("config/pimsel/pimsel.conf")));
    run({"search", "smi"});
    run({"exact", "tada"});
    EXPECT_FALSE(QFile::exists(settingsFilePath()));

    addAlias(QStringLiteral("yay"), QStringLiteral("🎉"));
    qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("elsewhere")).toUtf8());
    EXPECT_EQ(run({"exact", "yay"}).status, 1) << "another config home has no such alias";
}
