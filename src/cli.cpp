#include "cli.h"

#include <string>
#include <unistd.h>

#include "system.h"

command_line parse_command_line(int argc, char** argv) {
    static const std::string option_string = std::string(getopt_posix_prefix) + "adpmDrhfvn";
    restart_getopt();
    command_line parsed;
    search_options& o = parsed.options;
    int letter = 0;
    while ((letter = getopt(argc, argv, option_string.c_str())) != -1) {
        switch (letter) {
        case 'a':
            o.search_description = o.search_path = o.search_maintainer = o.search_depends = true;
            break;
        case 'd':
            o.search_description = true;
            break;
        case 'p':
            o.search_path = true;
            break;
        case 'm':
            o.search_maintainer = true;
            break;
        case 'D':
            o.search_depends = true;
            break;
        case 'f':
            o.show_depends = true;
            break;
        case 'n':
            o.long_format = true;
            break;
        case 'r':
            o.show_counts = true;
            break;
        case 'v':
            o.show_version = true;
            break;
        default: // 'h' and '?'
            o.show_help = true;
            break;
        }
    }
    parsed.first_operand = optind;
    parsed.operand_count = argc - optind;
    return parsed;
}
