#include "core/system/probe_write.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kMaxAlternatives = 99;

enum class ProbeResult { kWritten, kTaken, kFailed };

ProbeResult TryProbe(const std::string& path) {
    // O_EXCL: fails with EEXIST on anything of that name, a symbolic link
    // too (it is not followed), so nothing of the user's is ever opened.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return errno == EEXIST ? ProbeResult::kTaken : ProbeResult::kFailed;
    static const char kText[] = "test";
    size_t written = 0;
    bool ok = true;
    while (written < sizeof(kText) - 1) {
        const ssize_t n = ::write(fd, kText + written, sizeof(kText) - 1 - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        written += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) ok = false;
    ::unlink(path.c_str());  // ours: created by the open above
    return ok ? ProbeResult::kWritten : ProbeResult::kFailed;
}

}  // namespace

bool ProbeWrite(const std::string& probePath) {
    if (probePath.empty()) return false;
    for (int i = 0; i <= kMaxAlternatives; ++i) {
        const std::string path = i == 0 ? probePath : probePath + "." + std::to_string(i);
        switch (TryProbe(path)) {
            case ProbeResult::kWritten: return true;
            case ProbeResult::kFailed: return false;
            case ProbeResult::kTaken: break;
        }
    }
    return false;
}

bool ProbeFolderWritable(const std::string& folder, const std::string& probeName) {
    if (folder.empty()) return false;
    const bool separated = folder.back() == '/';
    return ProbeWrite(folder + (separated ? "" : "/") + probeName);
}
