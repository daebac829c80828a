// dorvasu-cli: proposed names, renames, undo and tag edits from a shell.
#include "cli/cli.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    // Qt gets no arguments of ours: each is a path or an option of the
    // command, taken as its bytes.
    int qtArgc = 1;
    char *qtArgv[] = {argv[0], nullptr};
    QCoreApplication app(qtArgc, qtArgv);
    return cli::run(argc, argv);
}
