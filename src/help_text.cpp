#include "help_text.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "cli.h"
#include "version.h"

void print_version_line(checked_output& out) {
    out.print("%s %s by %s at %s on %s (first release %s)\n", "vandrel", vandrel_version,
              "The vandrel project (vandrel@example.org)", "The vandrel project",
              vandrel_release_date, "2010-08-30");
}

void print_usage(const char* invocation_name, checked_output& out) {
    out.write("\n");
    print_version_line(out);
    const std::string rule(91, '=');
    out.write(rule);
    out.print("\n\nUsage: %s [options] search\n\n", invocation_name);
    out.write("Options:\n----------\n\n"
              "\tWithout options the search only matches the name of the ports\n");
    for (const command_option& option : command_options()) {
        if (option.letter != '\0') {
            out.print("\t-%c\t- %s\n", option.letter, option.description);
        }
    }
    out.write("\nPlease be sure you have an actual index file or do\n\n"
              "\t# cd /usr/ports && sudo make index\n"
              "\n");
}

void print_long_options(checked_output& out) {
    // Each option with its argument, padded to the widest.
    std::size_t width = 0;
    for (const command_option& option : command_options()) {
        if (option.long_name == nullptr) {
            continue;
        }
        const std::size_t argument =
            option.argument != nullptr ? std::strlen(option.argument) + 1 : 0;
        width = std::max(width, std::strlen(option.long_name) + argument);
    }
    out.write("Long options:\n----------\n\n");
    for (const command_option& option : command_options()) {
        if (option.long_name == nullptr) {
            continue;
        }
        std::string usage = option.long_name;
        if (option.argument != nullptr) {
            usage += ' ';
            usage += option.argument;
        }
        out.print("\t--%-*s - %s\n", static_cast<int>(width), usage.c_str(), option.description);
    }
    out.write("\n");
}
