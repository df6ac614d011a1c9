// glibc and musl: optind set to 0 starts getopt_long over and makes it forget
// its own state, such as where it was within a group of letters.
#include <unistd.h>

#include "getopt_restart.h"

namespace fixture {

void restart_getopt() noexcept {
    optind = 0;
}

} // namespace fixture
