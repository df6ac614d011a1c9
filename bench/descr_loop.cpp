// The least reading the ports' descriptions can cost: for each path read
// from a file, one a line, open(2) (O_RDONLY | O_CLOEXEC | O_NONBLOCK, as
// vandrel opens them), one read(2) into a fixed 64 KiB buffer and close(2).
//
//   descr_loop PATHS_FILE
//
// Prints how many files were read and their bytes, so that a run is seen to
// have found the tree.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: descr_loop PATHS_FILE\n", stderr);
        return 2;
    }
    std::FILE* paths = std::fopen(argv[1], "r");
    if (paths == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    static char buffer[65536];
    char* line = nullptr;
    std::size_t room = 0;
    ssize_t length = 0;
    unsigned long files = 0;
    unsigned long long bytes = 0;
    while ((length = getline(&line, &room, paths)) > 0) {
        if (line[length - 1] == '\n') {
            line[length - 1] = '\0';
        }
        const int fd = open(line, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            continue;
        }
        const ssize_t got = read(fd, buffer, sizeof buffer);
        close(fd);
        if (got >= 0) {
            ++files;
            bytes += static_cast<unsigned long long>(got);
        }
    }
    std::free(line);
    std::fclose(paths);
    std::printf("%lu files, %llu bytes\n", files, bytes);
    return files > 0 ? 0 : 1;
}
