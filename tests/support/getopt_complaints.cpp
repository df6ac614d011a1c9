// Parses its arguments with getopt_long as vandrel parses its own, with the
// option string and long options the program hands it, and does nothing else:
// what it prints on standard error is what this system's getopt_long says
// about an unknown option or a missing argument, in its own words. The
// end-to-end tests run it with the program's argv[0] (fixture::
// getopt_complaints) for the diagnostics to expect of the program.
#include <getopt.h>

#include "cli.h"

int main(int argc, char** argv) {
    const getopt_arguments arguments = getopt_arguments_for_parsing();
    while (getopt_long(argc, argv, arguments.option_string, arguments.long_options, nullptr) !=
           -1) {
    }
    return 0;
}
