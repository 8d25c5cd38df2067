#include "app/cli.h"

#include "engine/emoji_search_engine.h"
#include "engine/emoji_store.h"
#include "engine/settings_location.h"
#include "engine/settings_store.h"

#include <QIODevice>
#include <QSettings>
#include <QTextStream>

#include <memory>
#include <optional>

#ifndef PIMSEL_VERSION
#error "PIMSEL_VERSION must come from the build"
#endif

namespace pimsel {

namespace {

constexpr int defaultLimit = 6;

QString helpText() {
    return QStringLiteral("Usage: pimsel [--preferences | --setup | COMMAND [ARGUMENTS]]\n"
                          "\n"
                          "Colon emoji shortcodes in every text field. Without a command, starts the\n"
                          "desktop application in the tray of your X11 session (one per session;\n"
                          "exit status 2 when there is no X11 display). When it already runs, the\n"
                          "running one shows its setup window, or brings its open windows to the front.\n"
                          "\n"
                          "  --preferences  open the preferences window (starting Pimsel if needed)\n"
                          "  --setup        open the setup window (starting Pimsel if needed)\n"
                          "\n"
                          "Commands:\n"
                          "  search [--limit N] QUERY...  print the best matches for the words of QUERY,\n"
                          "                               one per line: the emoji, a tab, its shortcode\n"
                          "                               (at most N, default 6; with no QUERY, the\n"
                          "                               most used emoji)\n"
                          "  exact QUERY...               print the emoji that typing the closing trigger\n"
                          "                               after QUERY inserts; exit status 1 when none\n"
                          "\n"
                          "Options:\n"
                          "  -h, --help     show this help and exit\n"
                          "  -v, --version  show the version and exit\n"
                          "  --             end of options (for a query that starts with '-')\n"
                          "\n"
                          "Your custom aliases and use counts are read from\n"
                          "  %1\n")
        .arg(settingsFilePath());
}

int usageError(QTextStream& err, const QString& message) {
    err << "pimsel: " << message << "\nTry 'pimsel --help' for more information.\n";
    err.flush();
    return cliUsageError;
}

struct Command {
    QStringList words;
    int limit = defaultLimit;
    bool help = false;
};

// Parses what follows a command name. Returns nothing after reporting a usage error.
std::optional<Command> parseCommandArguments(const QStringList& arguments, bool acceptsLimit,
                                             QTextStream& err, int* status) {
    Command command;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (optionsEnded || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            command.words << argument;
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (argument == QLatin1String("-h") || argument == QLatin1String("--help")) {
            command.help = true;
        } else if (acceptsLimit &&
                   (argument == QLatin1String("--limit") || argument.startsWith(QLatin1String("--limit=")))) {
            QString value;
            if (argument == QLatin1String("--limit")) {
                if (i + 1 >= arguments.size()) {
                    *status = usageError(err, QStringLiteral("--limit needs a number"));
                    return std::nullopt;
                }
                value = arguments.at(++i);
            } else {
                value = argument.mid(qsizetype(sizeof("--limit=") - 1));
            }
            bool ok = false;
            const int limit = value.toInt(&ok);
            if (!ok || limit < 0) {
                *status = usageError(
                    err, QStringLiteral("--limit needs a whole number of 0 or more, not '%1'").arg(value));
                return std::nullopt;
            }
            command.limit = limit;
        } else {
            *status = usageError(err, QStringLiteral("unknown option '%1'").arg(argument));
            return std::nullopt;
        }
    }
    return command;
}

// The catalogue as the desktop application sees it: the user's aliases merged, use counts filled.
class UserCatalogue {
public:
    explicit UserCatalogue(const CliOptions& options)
        : m_settings(openUserSettings())
        , m_emoji(m_settings.get(),
                  options.catalogPath.isEmpty() ? EmojiStore::defaultCatalogPath() : options.catalogPath) {
        const SettingsStore settings(m_settings.get());
        m_emoji.reload(settings.customAliases());
    }
    const EmojiStore& emoji() const { return m_emoji; }

private:
    std::unique_ptr<QSettings> m_settings;
    EmojiStore m_emoji;
};

QString primaryShortcode(const EmojiEntry& entry) {
    return entry.aliases.isEmpty() ? entry.name : entry.aliases.first();
}

int runCommand(const QStringList& arguments, QTextStream& out, QTextStream& err, const CliOptions& options) {
    if (arguments.isEmpty())
        return usageError(err, QStringLiteral("no command given"));

    const QString& name = arguments.first();
    if (name == QLatin1String("-h") || name == QLatin1String("--help")) {
        out << helpText();
        out.flush();
        return cliSuccess;
    }
    if (name == QLatin1String("-v") || name == QLatin1String("--version")) {
        out << "pimsel " << PIMSEL_VERSION << '\n';
        out.flush();
        return cliSuccess;
    }
    if (name.startsWith(QLatin1Char('-')))
        return usageError(err, QStringLiteral("unknown option '%1'").arg(name));

    const bool isSearch = name == QLatin1String("search");
    if (!isSearch && name != QLatin1String("exact"))
        return usageError(err, QStringLiteral("unknown command '%1'").arg(name));

    int status = cliUsageError;
    const std::optional<Command> command = parseCommandArguments(arguments.mid(1), isSearch, err, &status);
    if (!command)
        return status;
    if (command->help) {
        out << helpText();
        out.flush();
        return cliSuccess;
    }
    if (!isSearch && command->words.isEmpty())
        return usageError(err, QStringLiteral("exact needs a query"));

    const QString query = command->words.join(QLatin1Char(' '));
    const UserCatalogue catalogue(options);
    const EmojiStore& emoji = catalogue.emoji();
    const EmojiSearchEngine engine;

    if (isSearch) {
        const QList<EmojiEntry> results =
            engine.search(query, emoji.entries(), emoji.searchIndex(), command->limit);
        for (const EmojiEntry& entry : results)
            out << entry.emoji << '\t' << primaryShortcode(entry) << '\n';
        out.flush();
        return cliSuccess;
    }

    const std::optional<EmojiEntry> match = engine.exactMatch(query, emoji.entries(), emoji.searchIndex());
    if (!match)
        return cliNoMatch;
    out << match->emoji << '\n';
    out.flush();
    return cliSuccess;
}

} // namespace

std::optional<ShellRequest> shellRequestFor(const QStringList& arguments) {
    if (arguments.isEmpty())
        return ShellRequest::reopen;
    if (arguments.size() > 1)
        return std::nullopt;
    if (arguments.constFirst() == QLatin1String("--preferences"))
        return ShellRequest::preferences;
    if (arguments.constFirst() == QLatin1String("--setup"))
        return ShellRequest::setup;
    return std::nullopt;
}

int runCli(const QStringList& arguments, QTextStream& out, QTextStream& err, const CliOptions& options) {
    const int status = runCommand(arguments, out, err, options);
    out.flush();
    // Results that never arrived (a full disk, a closed pipe) are a failure the caller must see,
    // not a successful run that printed nothing.
    if (out.status() != QTextStream::Ok) {
        const QIODevice* device = out.device();
        err << "pimsel: cannot write the output: "
            << (device != nullptr && !device->errorString().isEmpty() ? device->errorString()
                                                                      : QStringLiteral("write error"))
            << '\n';
        err.flush();
        return cliWriteError;
    }
    return status;
}

} // namespace pimsel
