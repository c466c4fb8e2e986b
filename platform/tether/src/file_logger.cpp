#include "file_logger.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <utility>

namespace tq {
namespace {

int openLogFile(const std::string& directory) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    const std::string path = directory + "/zucam.log";
    return open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

// write(2) normally takes the whole text at once; the loop only matters for
// a signal or a full disk in the middle.
void writeFully(int fileDescriptor, const char* text, size_t size) {
    while (size > 0) {
        const ssize_t written = write(fileDescriptor, text, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;
        }
        text += written;
        size -= static_cast<size_t>(written);
    }
}

}  // namespace

FileLogger::FileLogger(std::string directory)
    : directory_(std::move(directory)), fileDescriptor_(openLogFile(directory_)) {
    if (fileDescriptor_ < 0) {
        const std::string message = "[E][tether] cannot open the log file in " + directory_ + "\n";
        writeText(message.data(), message.size());
    }
}

FileLogger::~FileLogger() {
    if (fileDescriptor_ >= 0) close(fileDescriptor_);
}

void FileLogger::log(int /*level*/, const char* /*tag*/, const char* format, ...) {
    if (format == nullptr) return;
    char stackText[1024];
    va_list arguments;
    va_start(arguments, format);
    va_list retryArguments;
    va_copy(retryArguments, arguments);
    const int length = vsnprintf(stackText, sizeof stackText, format, arguments);
    va_end(arguments);
    if (length < 0) {
        va_end(retryArguments);
        return;
    }
    const size_t size = static_cast<size_t>(length);
    if (size < sizeof stackText) {
        va_end(retryArguments);
        writeText(stackText, size);
        return;
    }
    const std::unique_ptr<char[]> heapText(new char[size + 1]);
    vsnprintf(heapText.get(), size + 1, format, retryArguments);
    va_end(retryArguments);
    writeText(heapText.get(), size);
}

std::string FileLogger::directory() const { return directory_; }

void FileLogger::writeText(const char* text, size_t size) {
    const std::lock_guard<std::mutex> lock(writeMutex_);
    if (fileDescriptor_ >= 0) writeFully(fileDescriptor_, text, size);
    writeFully(STDERR_FILENO, text, size);
}

}  // namespace tq
