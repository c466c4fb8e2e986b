// A shared-memory name of its own for one test (pid, a counter and a random
// part), so that parallel tests and a running ZuCam never share a queue. The
// name is unlinked on destruction, whatever the test left behind.
#pragma once

#include <string>

class ScopedQueueName {
public:
    ScopedQueueName();
    ~ScopedQueueName();
    ScopedQueueName(const ScopedQueueName&) = delete;
    ScopedQueueName& operator=(const ScopedQueueName&) = delete;

    const std::string& name() const { return name_; }
    // Whether an object of that name exists now.
    bool Exists() const;

private:
    const std::string name_;
};
