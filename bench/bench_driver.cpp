// Times commands side by side: every round runs each command once, in turn,
// so that the machine's noise hits all of them alike; a first round, not
// counted, warms the caches. Reports the minimum and the median wall time and
// the peak resident memory of each, then the ratios asked for.
//
//   bench_driver PLAN_FILE
//
// PLAN_FILE lines, fields separated by tabs:
//   runs        N
//   command     LABEL  PROGRAM  ARG...        (an empty field is an empty argument)
//   ratio       TITLE  A  B  TARGET           min(A) / min(B), for a target "at most TARGET"
//   extra_ratio TITLE  A  A0  B  TARGET       (min(A) - min(A0)) / min(B)
//   extra_ratio TITLE  A  A0  B  B0  TARGET   (min(A) - min(A0)) / (min(B) - min(B0))
//   peak        TITLE  A                      peak resident memory of A, in KiB
//   peak_ratio  TITLE  A  B  TARGET           peak(A) / peak(B), for a target "at most TARGET"
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct command {
    std::string label;
    std::vector<std::string> argv;
    std::vector<double> seconds;
    long peak_kib = 0;
};

std::vector<std::string> split_tabs(const std::string& line) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, '\t')) {
        fields.push_back(field);
    }
    if (!line.empty() && line.back() == '\t') {
        fields.emplace_back();
    }
    return fields;
}

void run_once(command& c, bool counted = true) {
    std::vector<char*> argv;
    argv.reserve(c.argv.size() + 1);
    for (std::string& arg : c.argv) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    const auto stop = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::cerr << "bench_driver: " << c.label << " failed (status " << status << ")\n";
        std::exit(1);
    }
    if (counted) {
        c.seconds.push_back(std::chrono::duration<double>(stop - start).count());
        c.peak_kib = std::max(c.peak_kib, usage.ru_maxrss); // KiB on Linux and FreeBSD
    }
}

double minimum(const command& c) {
    return *std::min_element(c.seconds.begin(), c.seconds.end());
}

double median(command c) {
    std::sort(c.seconds.begin(), c.seconds.end());
    const std::size_t n = c.seconds.size();
    return n % 2 == 1 ? c.seconds[n / 2] : (c.seconds[n / 2 - 1] + c.seconds[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: bench_driver PLAN_FILE\n";
        return 2;
    }
    std::ifstream plan(argv[1]);
    int runs = 10;
    std::vector<command> commands;
    std::vector<std::vector<std::string>> reports;
    std::string line;
    while (std::getline(plan, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::vector<std::string> f = split_tabs(line);
        if (f[0] == "runs") {
            runs = std::max(1, static_cast<int>(std::strtol(f.at(1).c_str(), nullptr, 10)));
        } else if (f[0] == "command") {
            commands.push_back({f.at(1), {f.begin() + 2, f.end()}, {}, 0});
        } else {
            reports.push_back(f);
        }
    }
    std::map<std::string, command*> by_label;
    for (command& c : commands) {
        by_label[c.label] = &c;
    }
    for (command& c : commands) {
        run_once(c, false);
    }
    for (int round = 0; round < runs; ++round) {
        for (command& c : commands) {
            run_once(c);
        }
    }

    std::printf("%-34s %10s %10s %10s\n", "command", "min ms", "median ms", "peak KiB");
    for (const command& c : commands) {
        std::printf("%-34s %10.2f %10.2f %10ld\n", c.label.c_str(), minimum(c) * 1e3,
                    median(c) * 1e3, c.peak_kib);
    }
    std::printf("\n");
    const auto find = [&](const std::string& label) -> const command& {
        const auto it = by_label.find(label);
        if (it == by_label.end()) {
            std::cerr << "bench_driver: no command " << label << "\n";
            std::exit(2);
        }
        return *it->second;
    };
    // A ratio over its target is marked, for bench/run to count.
    const auto print_ratio = [](const std::string& title, double ratio, const std::string& target) {
        const bool missed = target != "-" && ratio > std::stod(target);
        std::printf("%-58s %6.2f   (target: at most %s)%s\n", title.c_str(), ratio, target.c_str(),
                    missed ? "   MISSED" : "");
    };
    for (const std::vector<std::string>& r : reports) {
        if (r[0] == "ratio") {
            print_ratio(r[1], minimum(find(r.at(2))) / minimum(find(r.at(3))), r.at(4));
        } else if (r[0] == "extra_ratio") {
            const bool b_baseline = r.size() > 6;
            const double b = minimum(find(r.at(4))) - (b_baseline ? minimum(find(r.at(5))) : 0);
            print_ratio(r[1], (minimum(find(r.at(2))) - minimum(find(r.at(3)))) / b,
                        r.at(b_baseline ? 6 : 5));
        } else if (r[0] == "peak") {
            std::printf("%-58s %6ld KiB\n", r[1].c_str(), find(r.at(2)).peak_kib);
        } else if (r[0] == "peak_ratio") {
            print_ratio(r[1],
                        static_cast<double>(find(r.at(2)).peak_kib) /
                            static_cast<double>(find(r.at(3)).peak_kib),
                        r.at(4));
        }
    }
    return 0;
}
