// cli_check.h: `mervalt check`, the template checker on the command line.
#pragma once

namespace mervalt::cli {

// Runs `mervalt check`; argv[0] is "check". Returns the exit status: 0 when
// nothing at or above --fail-on was found, 1 otherwise, 2 for bad arguments
// or files that cannot be read.
int runCheck(int argc, char** argv);

}  // namespace mervalt::cli
