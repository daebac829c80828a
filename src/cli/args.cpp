#include "cli/args.h"

#include "core/tags/tagfields.h"

#include <QStringList>

namespace cli {

namespace {

enum Option : unsigned { Recursive = 1, DryRun = 2, Json = 4, Fields = 8, Paths = 16, Pattern = 32 };

struct Subcommand {
    const char *name;
    Command command;
    unsigned options;
    const char *synopsis;
    const char *summary;
    const char *details;
};

const Subcommand kSubcommands[] = {
    {"names", Command::Names, Recursive | Paths, "names [-r] PATH...",
     "print the name each file would get from its tag",
     "Print, for each MP3 file, its path, a tab and the name the file would get\n"
     "from its tag: the singer, \" - \", the title and \".mp3\". Where there is no\n"
     "name, a marker stands instead: *[File not found], *[Tag info error], or\n"
     "*[Filename error] when the singer or title holds a character a file name\n"
     "may not hold. A file with a marker counts as failed.\n"},
    {"rename", Command::Rename, Recursive | DryRun | Paths, "rename [-r] [--dry-run] PATH...",
     "rename files to the names their tags give",
     "Rename each MP3 file, in its own folder, to the name its tag gives (see\n"
     "\"names\"), and print its path, a tab and the new name, or \"error: \" and\n"
     "the reason. An existing file is never replaced. The batch is noted in the\n"
     "history of undoable actions the window shares, so \"undo\", here or in the\n"
     "window, puts the files back.\n"},
    {"undo", Command::Undo, 0, "undo",
     "undo the last rename batch or tag write, made here or in the window",
     "Undo the last action of the history the window shares, then, run again,\n"
     "the one before (the last 20 are kept). A rename batch: rename its files\n"
     "back to their old names, never replacing a file, and print each file's\n"
     "path, a tab and the name it got back. Tags written (\"set\", the window's\n"
     "Update): put each file's old tags back byte for byte and print its path, a\n"
     "tab and \"put back\". A file that changed since is refused: \"error: \" and\n"
     "the reason. An action is undone once.\n"},
    {"show", Command::Show, Recursive | Json | Paths, "show [-r] [--json] PATH...",
     "print the tag fields of files",
     "Print the six tag fields of each MP3 file as the window's tag frame shows\n"
     "them: title, artist, album, year, comment and genre. With --json, one JSON\n"
     "object a line with the keys path, title, artist, album, year, comment,\n"
     "genre and genre_no.\n"},
    {"set", Command::Set, Recursive | Fields | Paths,
     "set [--title T] [--artist A] [--album B] [--year Y] [--comment C] [--genre G] [-r] PATH...",
     "write tag fields into files",
     "Write the given fields into the tag of each MP3 file, leaving the others as\n"
     "they are, and print its path, a tab and \"written\", \"unchanged\" or\n"
     "\"error: \" and the reason. A file is either written completely or left as\n"
     "it was. Texts are at most 30 characters, the year at most 4; the genre is\n"
     "a name or number of the genre list. The files' old tags are saved first,\n"
     "so \"undo\" puts them back.\n"},
    {"repair", Command::Repair, Recursive | DryRun | Json | Paths, "repair [-r] [--dry-run] [--json] PATH...",
     "repair text that another program garbled",
     "Find, in the title, artist, album and comment of each MP3 file, text that\n"
     "another program decoded in the wrong code page and stored as Unicode\n"
     "(\"–é–¾‚¯‚Ì‰Ì\" for \"夜明けの歌\", \"CafÃ©\" for \"Café\"), and write\n"
     "it back as it was meant, in Unicode frames. A tag is repaired only when\n"
     "every garbled field goes back exactly and reads far better; clean text,\n"
     "and text that lost bytes, are left alone. Print one line per field\n"
     "written: its path, the field, the text now and the text repaired, tab\n"
     "between them; with --json, one JSON object a line with the keys path,\n"
     "field, text and repaired. The writes are one batch.\n"},
    {"convert", Command::Convert, Recursive | DryRun | Json | Paths, "convert [-r] [--dry-run] [--json] PATH...",
     "store text without a declared encoding as Unicode",
     "Write the title, artist, album and comment of each MP3 file that are\n"
     "stored without a declared encoding (ID3v1, ID3v2 frames marked ISO-8859-1\n"
     "holding CP932 or Windows-1252 text) into UTF-16 frames, in the tag's own\n"
     "version (ID3v2.3 for a file without an ID3v2 tag), so that every player\n"
     "shows them as this program does; every other frame is kept. Print one\n"
     "line per field: its path, the field, the text, and how it is stored now\n"
     "and after; with --json, one JSON object a line with the keys path, field,\n"
     "text and converted. A field whose code page is a close call is left as\n"
     "it is (named on standard error). The writes are one batch.\n"},
    {"from-name", Command::FromName, Recursive | DryRun | Json | Pattern | Paths,
     "from-name [--pattern P] [-r] [--dry-run] [--json] PATH...",
     "fill tag fields from file names",
     "Read tag fields from each MP3 file's name by a pattern (by default\n"
     "\"%artist% - %title%\", the inverse of the names \"names\" proposes) and\n"
     "write the fields the pattern names, as one batch; the others stay as they\n"
     "are. Placeholders: %artist%, %title%, %album%, %year% (four digits),\n"
     "%comment%, %track% (a number, read and not written: the tag has no track\n"
     "field) and %skip% (any text); the rest of the pattern must stand in the\n"
     "name exactly. The extension .mp3 is not part of the match. Where a\n"
     "separator could match at several places, the title keeps the extra ones:\n"
     "\"A - B - C.mp3\" gives the artist \"A\" and the title \"B - C\". A name\n"
     "that does not match gives no fields, is not written, and counts as failed.\n"
     "Prints the path, a tab and the fields as field=value, tab-separated, then\n"
     "a tab and \"written\", \"unchanged\" or \"error: \" and the reason; or the\n"
     "path, a tab and \"no match\". With --json, one JSON object a line:\n"
     "{\"path\": ..., \"fields\": {\"artist\": ..., \"title\": ...}} or\n"
     "{\"path\": ..., \"match\": false}.\n"},
};

const char kOptionsHelp[] =
    "  -r, --recursive  take the MP3 files of each PATH that is a folder and of\n"
    "                   all its subfolders (hidden folders are skipped)\n";
const char kDryRunHelp[] = "      --dry-run    (rename, repair, convert, from-name) print what would be\n"
                           "                   done, changing nothing\n";
const char kJsonHelp[] = "      --json       (show, repair, convert, from-name) print JSON Lines\n";
const char kPatternHelp[] = "      --pattern P  (from-name) the pattern, by default \"%artist% - %title%\"\n";
const char kFieldsHelp[] =
    "      --title T    (set) the title\n"
    "      --artist A   the artist (singer)\n"
    "      --album B    the album\n"
    "      --year Y     the year\n"
    "      --comment C  the comment\n"
    "      --genre G    the genre, by name (letter case ignored) or number\n";
const char kHelpHelp[] = "  -h, --help       display this help and exit\n";

const char kCommon[] =
    "Paths are taken byte for byte as given. Output is UTF-8; the bytes of a\n"
    "path that are not UTF-8, and control characters, are printed as \\xHH, a\n"
    "backslash as \\\\. Each failed file is named on standard error with the\n"
    "reason. While standard error is a terminal it shows progress.\n"
    "\n"
    "Exit status:\n"
    "  0  every file succeeded\n"
    "  1  some file failed\n"
    "  2  usage error\n";

const Subcommand *find(const QByteArray &name)
{
    for (const Subcommand &s : kSubcommands) {
        if (name == s.name)
            return &s;
    }
    return nullptr;
}

// The text field an option sets, or null.
std::optional<QString> *fieldOf(FieldOptions &f, const QByteArray &option)
{
    using Member = std::optional<QString> FieldOptions::*;
    static const std::pair<const char *, Member> kFields[] = {
        {"--title", &FieldOptions::title},     {"--artist", &FieldOptions::artist},
        {"--album", &FieldOptions::album},     {"--year", &FieldOptions::year},
        {"--comment", &FieldOptions::comment}, {"--genre", &FieldOptions::genre}};
    for (const auto &[name, member] : kFields) {
        if (option == name)
            return &(f.*member);
    }
    return nullptr;
}

// A usage error for the value of a field option; empty when sound.
QString checkValue(const QByteArray &option, const QByteArray &value)
{
    if (!value.isValidUtf8())
        return QStringLiteral("%1: the text is not UTF-8").arg(QString::fromUtf8(option));
    const qsizetype limit = option == "--year" ? tags::kYearMaxLength : tags::kFieldMaxLength;
    if (option != "--genre" && QString::fromUtf8(value).size() > limit)
        return QStringLiteral("%1: at most %2 characters").arg(QString::fromUtf8(option)).arg(limit);
    return {};
}

Parsed usage(QString error)
{
    return {{}, std::move(error)};
}

} // namespace

Parsed parseArgs(int argc, char **argv)
{
    Parsed p;
    Args &a = p.args;
    const QByteArray first = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (first.isEmpty())
        return usage(QStringLiteral("a command is missing"));
    if (first == "--help" || first == "-h" || first == "help") {
        a.command = Command::Help;
        a.helpFor = first == "help" && argc > 2 ? QByteArray(argv[2]) : QByteArray();
        if (!a.helpFor.isEmpty() && !find(a.helpFor))
            return usage(QStringLiteral("no such command: %1").arg(QString::fromUtf8(a.helpFor)));
        return p;
    }
    if (first == "--version") {
        a.command = Command::Version;
        return p;
    }
    const Subcommand *sub = find(first);
    if (!sub)
        return usage(QStringLiteral("no such command: %1").arg(QString::fromUtf8(first)));
    a.command = sub->command;

    bool optionsOver = false;
    for (int i = 2; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (optionsOver || !arg.startsWith('-') || arg == "-") {
            a.paths.append(arg);
            continue;
        }
        const qsizetype equals = arg.indexOf('=');
        const QByteArray name = arg.startsWith("--") && equals > 0 ? arg.left(equals) : arg;
        if (arg == "--") {
            optionsOver = true;
        } else if (arg == "-h" || arg == "--help") {
            a.command = Command::Help;
            a.helpFor = sub->name;
            return p;
        } else if ((arg == "-r" || arg == "--recursive") && (sub->options & Recursive)) {
            a.recursive = true;
        } else if (arg == "--dry-run" && (sub->options & DryRun)) {
            a.dryRun = true;
        } else if (arg == "--json" && (sub->options & Json)) {
            a.json = true;
        } else if (name == "--pattern" && (sub->options & Pattern)) {
            if (equals > 0)
                a.pattern = QString::fromUtf8(arg.mid(equals + 1));
            else if (i + 1 < argc)
                a.pattern = QString::fromUtf8(argv[++i]);
            else
                return usage(QStringLiteral("--pattern needs a value"));
        } else if (std::optional<QString> *field = fieldOf(a.fields, name);
                   field && (sub->options & Fields)) {
            QByteArray value;
            if (equals > 0)
                value = arg.mid(equals + 1);
            else if (i + 1 < argc)
                value = argv[++i];
            else
                return usage(QStringLiteral("%1 needs a value").arg(QString::fromUtf8(name)));
            if (const QString error = checkValue(name, value); !error.isEmpty())
                return usage(error);
            *field = QString::fromUtf8(value);
        } else {
            return usage(QStringLiteral("%1: no such option of \"%2\"")
                             .arg(QString::fromUtf8(arg), QString::fromUtf8(sub->name)));
        }
    }
    if ((sub->options & Paths) && a.paths.isEmpty())
        return usage(QStringLiteral("%1: a PATH is missing").arg(QString::fromUtf8(sub->name)));
    if (!(sub->options & Paths) && !a.paths.isEmpty())
        return usage(QStringLiteral("%1 takes no PATH").arg(QString::fromUtf8(sub->name)));
    const FieldOptions &f = a.fields;
    if ((sub->options & Fields) && !f.title && !f.artist && !f.album && !f.year && !f.comment && !f.genre)
        return usage(QStringLiteral("set: no field given (--title, --artist, ...)"));
    return p;
}

QString helpText(const QByteArray &subcommand)
{
    QString text;
    if (subcommand.isEmpty()) {
        for (const Subcommand &s : kSubcommands)
            text += QStringLiteral("%1dorvasu-cli %2\n").arg(text.isEmpty() ? QStringLiteral("Usage: ") : QStringLiteral("  or:  "), QString::fromUtf8(s.synopsis));
        text += QStringLiteral("Rename MP3 files after their tags (\"Singer - Title.mp3\") and edit\n"
                               "their tags, from a shell.\n\nCommands:\n");
        for (const Subcommand &s : kSubcommands)
            text += QStringLiteral("  %1%2\n").arg(QString::fromUtf8(s.name).leftJustified(11),
                                                   QString::fromUtf8(s.summary));
        text += QStringLiteral("\nOptions:\n") + QString::fromUtf8(kOptionsHelp) + QString::fromUtf8(kDryRunHelp)
                + QString::fromUtf8(kJsonHelp) + QString::fromUtf8(kPatternHelp) + QString::fromUtf8(kFieldsHelp)
                + QString::fromUtf8(kHelpHelp)
                + QStringLiteral("      --version    output version information and exit\n\n"
                                 "\"dorvasu-cli help COMMAND\" or \"dorvasu-cli COMMAND --help\" tells more\n"
                                 "of a command.\n\n");
        return text + QString::fromUtf8(kCommon);
    }
    const Subcommand *s = find(subcommand);
    if (!s)
        return {};
    text = QStringLiteral("Usage: dorvasu-cli %1\n").arg(QString::fromUtf8(s->synopsis))
           + QString::fromUtf8(s->details) + QStringLiteral("\nOptions:\n");
    if (s->options & Fields)
        text += QString::fromUtf8(kFieldsHelp);
    if (s->options & Pattern)
        text += QString::fromUtf8(kPatternHelp);
    if (s->options & Recursive)
        text += QString::fromUtf8(kOptionsHelp);
    if (s->options & DryRun)
        text += QString::fromUtf8(kDryRunHelp);
    if (s->options & Json)
        text += QString::fromUtf8(kJsonHelp);
    return text + QString::fromUtf8(kHelpHelp) + u'\n' + QString::fromUtf8(kCommon);
}

} // namespace cli
