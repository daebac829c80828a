// The command line of dorvasu-cli: its subcommands, their options, and the
// help texts (written so that help2man can make a manual page of them).
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace cli {

enum class Command { Names, Rename, Undo, Show, Set, FromName, Help, Version, Repair, Convert };

// The tag fields `set` writes, each only when given.
struct FieldOptions {
    std::optional<QString> title, artist, album, year, comment;
    std::optional<QString> genre;   // a genre's name or number
};

struct Args {
    Command command = Command::Help;
    QByteArray helpFor;   // Help: the subcommand asked about; empty for the command
    bool recursive = false;
    bool dryRun = false;
    bool json = false;
    FieldOptions fields;
    std::optional<QString> pattern;   // from-name: the pattern given
    QList<QByteArray> paths;   // exactly the bytes given
};

struct Parsed {
    Args args;
    QString error;   // a usage error; empty when the arguments are sound
};

Parsed parseArgs(int argc, char **argv);

// The help of a subcommand, or of the whole command for an empty name;
// empty for a name that is no subcommand.
QString helpText(const QByteArray &subcommand);

} // namespace cli
