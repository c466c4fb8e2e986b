// Owns one POSIX file descriptor and closes it when it goes. Move-only.
#pragma once

namespace zucam::phone {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd();
    UniqueFd(UniqueFd&& other) noexcept;
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes the held descriptor (if any) and takes fd.
    void reset(int fd = -1);
    // Gives up ownership without closing.
    int release();

private:
    int fd_ = -1;
};

}  // namespace zucam::phone
