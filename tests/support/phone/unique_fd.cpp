#include "support/phone/unique_fd.h"

#include <unistd.h>

#include <utility>

namespace zucam::phone {

UniqueFd::~UniqueFd() { reset(); }

UniqueFd::UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
}

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

int UniqueFd::release() { return std::exchange(fd_, -1); }

}  // namespace zucam::phone
