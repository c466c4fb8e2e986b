#include "processes/process_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace processes {

namespace {

constexpr const char kDeletedSuffix[] = " (deleted)";
// More than any command line the callers look for; a longer one is cut.
constexpr size_t kMaxArgumentBytes = 256 * 1024;

bool IsPid(const char* name) {
    if (*name == '\0') return false;
    for (const char* c = name; *c != '\0'; ++c) {
        if (!std::isdigit(static_cast<unsigned char>(*c))) return false;
    }
    return true;
}

std::string ReadExecutable(const std::string& folder) {
    char target[PATH_MAX];
    const ssize_t length = readlink((folder + "/exe").c_str(), target, sizeof(target) - 1);
    if (length <= 0) return std::string();
    std::string path(target, static_cast<size_t>(length));
    const size_t suffix = sizeof(kDeletedSuffix) - 1;
    if (path.size() > suffix && path.compare(path.size() - suffix, suffix, kDeletedSuffix) == 0) {
        path.resize(path.size() - suffix);
    }
    return path;
}

// Read with plain read(): the file of a process that is ending fails with
// ESRCH, which std::filebuf turns into an exception.
std::string ReadProcessFile(const std::string& path) {
    std::string bytes;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return bytes;
    char chunk[4096];
    while (bytes.size() < kMaxArgumentBytes) {
        const ssize_t got = read(fd, chunk, sizeof(chunk));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        bytes.append(chunk, static_cast<size_t>(got));
    }
    close(fd);
    return bytes;
}

std::vector<std::string> ReadArguments(const std::string& folder) {
    const std::string bytes = ReadProcessFile(folder + "/cmdline");
    std::vector<std::string> arguments;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\0', start);
        if (end == std::string::npos) end = bytes.size();
        arguments.emplace_back(bytes, start, end - start);
        start = end + 1;
    }
    return arguments;
}

}  // namespace

std::vector<ProcessEntry> ListProcesses() {
    std::vector<ProcessEntry> entries;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return entries;
    const pid_t self = getpid();
    while (const dirent* item = readdir(proc)) {
        if (!IsPid(item->d_name)) continue;
        const std::string folder = std::string("/proc/") + item->d_name;
        struct stat info {};
        if (stat(folder.c_str(), &info) != 0) continue;  // ended meanwhile
        ProcessEntry entry;
        entry.pid = static_cast<pid_t>(std::strtol(item->d_name, nullptr, 10));
        if (entry.pid == self) continue;
        entry.uid = info.st_uid;
        entry.executable = ReadExecutable(folder);
        entry.arguments = ReadArguments(folder);
        entries.push_back(std::move(entry));
    }
    closedir(proc);
    return entries;
}

bool TerminateProcess(pid_t pid) { return pid > 0 && kill(pid, SIGKILL) == 0; }

}  // namespace processes
