// Stand-in for the bundle's runtime: notes the descriptors and environment it was started with, then
// runs the real runtime with the same arguments and environment.
//
// Placed at share/lorvane/runtime/node with the real runtime beside it as node.real. A test reads
// what the shell handed over, before the runtime has opened anything of its own, from
// <runtime folder>/probes/<pid>.fds ("descriptor target" lines) and <pid>.env (environ, NUL-separated).
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace {

std::string folderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

std::string linkTarget(const std::string& path) {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    return length < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(length));
}

// Written before the descriptor table is read, so the files' own descriptors are known and left out.
bool record(const std::string& folder) {
    ::mkdir(folder.c_str(), 0755);
    const std::string stem = folder + "/" + std::to_string(::getpid());
    FILE* env = std::fopen((stem + ".env").c_str(), "we");
    FILE* fds = std::fopen((stem + ".fds").c_str(), "we");
    DIR* table = ::opendir("/proc/self/fd");
    if (!env || !fds || !table) return false;
    for (char** entry = environ; *entry; ++entry) std::fwrite(*entry, 1, std::strlen(*entry) + 1, env);
    const int own[] = {fileno(env), fileno(fds), ::dirfd(table)};
    while (const dirent* item = ::readdir(table)) {
        if (item->d_name[0] == '.') continue;
        const int fd = std::atoi(item->d_name);
        if (fd == own[0] || fd == own[1] || fd == own[2]) continue;
        const std::string target = linkTarget(std::string("/proc/self/fd/") + item->d_name);
        std::fprintf(fds, "%d %s\n", fd, target.c_str());
    }
    ::closedir(table);
    return std::fclose(env) == 0 && std::fclose(fds) == 0;
}

}  // namespace

int main(int, char** argv) {
    const std::string self = linkTarget("/proc/self/exe");
    const std::string folder = folderOf(self);
    if (!record(folder + "/probes")) std::fprintf(stderr, "fd_probe: cannot record: %s\n", std::strerror(errno));
    const std::string real = folder + "/node.real";
    argv[0] = const_cast<char*>(real.c_str());
    ::execve(real.c_str(), argv, environ);
    std::fprintf(stderr, "fd_probe: cannot run %s: %s\n", real.c_str(), std::strerror(errno));
    return 127;
}
