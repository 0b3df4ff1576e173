#pragma once

namespace tarvelind {

/// The whole daemon: parses the command line, starts up, serves until SIGTERM or SIGINT and
/// returns the process exit status.
int runDaemon(int argc, char** argv);

}  // namespace tarvelind
