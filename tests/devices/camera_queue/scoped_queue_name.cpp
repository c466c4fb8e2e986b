#include "scoped_queue_name.h"

#include <atomic>
#include <random>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

std::string MakeName() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    return "/ZuCamTestQueue-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
           std::to_string(random());
}

}  // namespace

ScopedQueueName::ScopedQueueName() : name_(MakeName()) {}

ScopedQueueName::~ScopedQueueName() { ::shm_unlink(name_.c_str()); }

bool ScopedQueueName::Exists() const {
    const int fd = ::shm_open(name_.c_str(), O_RDONLY, 0);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}
