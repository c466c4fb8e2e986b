// The Logger of the interface table: appends to <data>/ZuCam/log/zucam.log
// and echoes to standard error.
#pragma once

#include <mutex>
#include <string>

#include "tether/tether.h"

namespace tq {

class FileLogger final : public Logger {
public:
    // Creates the folder and opens the file for appending. When that fails the
    // logger still writes to standard error.
    explicit FileLogger(std::string directory);
    ~FileLogger() override;
    FileLogger(const FileLogger&) = delete;
    FileLogger& operator=(const FileLogger&) = delete;

    // Any thread. The level is not filtered and the tag is not written: the
    // program's format text already carries both.
    void log(int level, const char* tag, const char* format, ...) override __attribute__((format(printf, 4, 5)));
    std::string directory() const override;

private:
    // One write per destination for the whole text, under writeMutex_, so
    // that lines of concurrent threads neither interleave nor tear.
    void writeText(const char* text, size_t size);

    const std::string directory_;
    const int fileDescriptor_;  // -1 when the file could not be opened
    std::mutex writeMutex_;     // guards the order of writes to the file and to stderr
};

}  // namespace tq
