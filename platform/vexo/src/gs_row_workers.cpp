#include "vexo/gs_row_workers.h"

#include <algorithm>
#include <system_error>

GsRowWorkers::~GsRowWorkers() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

int GsRowWorkers::threadCount() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(threads_.size());
}

bool GsRowWorkers::EnsureThreads(int count) {
    // Called under runMutex_ only, so threads_ grows on one thread; the
    // workers read it under mutex_.
    while (static_cast<int>(threads_.size()) < count) {
        const int index = static_cast<int>(threads_.size());
        uint64_t current = 0;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            current = generation_;
        }
        try {
            // The worker starts from the generation before the next Run's:
            // a thread that is slow to start still sees that Run.
            std::thread thread([this, index, current] { WorkerLoop(index, current); });
            const std::lock_guard<std::mutex> lock(mutex_);
            threads_.push_back(std::move(thread));
        } catch (const std::system_error&) {
            return false;
        }
    }
    return true;
}

void GsRowWorkers::Run(int rows, int parts, const Work& work) {
    if (rows <= 0) return;
    parts = std::clamp(parts, 1, rows);
    const std::lock_guard<std::mutex> run(runMutex_);
    if (parts > 1 && !EnsureThreads(parts - 1)) {
        const std::lock_guard<std::mutex> lock(mutex_);
        parts = std::min(parts, static_cast<int>(threads_.size()) + 1);
    }
    const int chunk = (rows + parts - 1) / parts;
    // With a rounded-up chunk the last parts may be empty: count real ones.
    parts = (rows + chunk - 1) / chunk;
    if (parts == 1) {
        work(0, rows);
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        work_ = &work;
        rows_ = rows;
        parts_ = parts;
        chunk_ = chunk;
        pending_ = parts - 1;
        ++generation_;
    }
    wake_.notify_all();
    work(0, std::min(rows, chunk));
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return pending_ == 0; });
    work_ = nullptr;
}

void GsRowWorkers::WorkerLoop(int index, uint64_t seen) {
    for (;;) {
        const Work* work = nullptr;
        int begin = 0;
        int end = 0;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
            if (stopping_) return;
            seen = generation_;
            // Part index + 1: part 0 is the caller's.
            if (index + 1 >= parts_) continue;
            work = work_;
            begin = (index + 1) * chunk_;
            end = std::min(rows_, begin + chunk_);
        }
        (*work)(begin, end);
        bool last = false;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            last = --pending_ == 0;
        }
        if (last) done_.notify_one();
    }
}
