// A FIFO in a private temporary directory and the test's end of it: the
// stand-in for the audio server's pipe source.
#pragma once

#include <QTemporaryDir>
#include <cstdint>
#include <string>
#include <vector>

class FifoReader {
public:
    // Makes the FIFO (mkfifo) without opening it.
    FifoReader();
    ~FifoReader();
    FifoReader(const FifoReader&) = delete;
    FifoReader& operator=(const FifoReader&) = delete;

    const std::string& path() const { return path_; }
    bool made() const { return made_; }
    // Opens the read end, non-blocking, so that writers can open.
    bool OpenReader();
    void CloseReader();
    // Everything readable now.
    std::vector<uint8_t> ReadAvailable();
    // Waits up to timeoutMs for exactly bytes bytes.
    std::vector<uint8_t> ReadExactly(size_t bytes, int timeoutMs);

private:
    QTemporaryDir dir_;
    std::string path_;
    bool made_ = false;
    int fd_ = -1;
};
