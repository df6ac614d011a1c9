// Starting getopt_long(3) over, for the tests that parse many command lines
// in one process (the program parses one). Each system has its own rule and
// its own file, chosen by the build: getopt_restart_linux.cpp (glibc and musl)
// and getopt_restart_bsd.cpp (the BSDs and macOS).
#pragma once

namespace fixture {

// Makes the next getopt_long call start over at the first argument, with
// none of the state of the parse before.
void restart_getopt() noexcept;

} // namespace fixture
