// The BSDs and macOS: optreset set to 1 makes getopt_long forget its state,
// and optind set to 1 starts it at the first argument.
#include <unistd.h>

#include "getopt_restart.h"

namespace fixture {

void restart_getopt() noexcept {
    optreset = 1;
    optind = 1;
}

} // namespace fixture
