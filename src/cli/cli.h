// dorvasu-cli's subcommands over the libraries the windows use.
#pragma once

namespace cli {

// Runs the command line; the result is the exit status: 0 when every file
// succeeded, 1 when some failed (each named on stderr), 2 on a usage error.
int run(int argc, char **argv);

} // namespace cli
