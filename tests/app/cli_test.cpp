#include "app/cli.h"
#include "engine/settings_location.h"

#include "support/files.h"

#include <QRegularExpression>
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

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toUtf8());
        ASSERT_TRUE(pimsel::testing::writeFile(m_options.catalogPath, catalogue));
    }
    void TearDown() override {
        if (m_configHome.isNull())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", m_configHome);
    }

    // Exit status, standard output and standard error.
    std::tuple<int, QString, QString> run(const QStringList& arguments) {
        QString out, err;
        QTextStream outStream(&out), errStream(&err);
        const int status = runCli(arguments, outStream, errStream, m_options);
        outStream.flush();
        errStream.flush();
        return {status, out, err};
    }

    QTemporaryDir m_dir;
    const CliOptions m_options{m_dir.filePath(QStringLiteral("emoji.json"))};
    const QByteArray m_configHome =
        qEnvironmentVariableIsSet("XDG_CONFIG_HOME") ? qgetenv("XDG_CONFIG_HOME") : QByteArray();
};

} // namespace

TEST_F(CliTest, AnswersEachCommandLineWithItsStatusOutputAndErrors) {
    // `out` is matched as a whole; usage errors exit with 2 and explain on standard error.
    const struct {
        QStringList arguments;
        int status;
        const char *out, *err;
    } cases[] = {
        {{}, 2, "", "pimsel: .*"},
        {{"frobnicate"}, 2, "", "pimsel: .*frobnicate.*"},
        {{"search", "--limit", "six", "smi"}, 2, "", "pimsel: .*'six'.*"},
        {{"search", "-1"}, 2, "", "pimsel: .*"}, // an option-like word needs --
        {{"search", "--help"}, 0, "Usage: pimsel.*--preferences .*--setup .*", ""},
        {{"--version"}, 0, "pimsel \\d+\\.\\d+\\.\\d+\n", ""},
        // exact: the closing trigger's emoji, or nothing and status 1.
        {{"exact", ":TADA:"}, 0, "🎉\n", ""},
        {{"exact", "--", "-1"}, 0, "👎\n", ""},
        {{"exact", "tad"}, 1, "", ""},
        // search: emoji, tab, primary shortcode (else the name), best first.
        {{"search", "smi"}, 0, "😄\tsmile\n😃\tsmiley\n", ""},
        {{"search", "melting", "face"}, 0, "🫠\tmelting face\n", ""},
        {{"search", "face"}, 0, "([^\n]*\n){6}", ""}, // six by default
        {{"search", "face", "--limit", "3"}, 0, "([^\n]*\n){3}", ""},
        {{"search", "--limit", "0", "face"}, 0, "", ""},
    };
    const auto whole = [](const char* pattern, const QString& text) {
        return QRegularExpression(QStringLiteral("\\A(?:%1)\\z").arg(QString::fromUtf8(pattern)),
                                  QRegularExpression::DotMatchesEverythingOption)
            .match(text)
            .hasMatch();
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const auto [status, out, err] = run(c.arguments);
        EXPECT_EQ(status, c.status);
        EXPECT_TRUE(whole(c.out, out)) << out.toStdString();
        EXPECT_TRUE(whole(c.err, err)) << err.toStdString();
    }
    EXPECT_TRUE(std::get<1>(run({"--help"})).contains(settingsFilePath()));

    // No arguments, or one window's option alone, start (or reach) the desktop application instead.
    const std::pair<QStringList, std::optional<ShellRequest>> starts[] = {
        {{}, ShellRequest::reopen},
        {{"--preferences"}, ShellRequest::preferences},
        {{"--setup"}, ShellRequest::setup},
        {{"--preferences", "smi"}, std::nullopt},
        {{"--help"}, std::nullopt}};
    for (const auto& [arguments, request] : starts)
        EXPECT_EQ(shellRequestFor(arguments), request) << arguments.join(' ').toStdString();
}
