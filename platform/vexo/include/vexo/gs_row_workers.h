// Worker threads that split a pass over picture rows: started once (on the
// first pass that wants them) and kept until the owner goes, instead of
// threads started and joined for every pass.
//
// Run hands part 0 to the calling thread and the other parts to the
// workers, and returns when every part is done. Runs from several threads
// are taken one at a time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class GsRowWorkers {
public:
    using Work = std::function<void(int rowBegin, int rowEnd)>;

    GsRowWorkers() = default;
    // Joins the workers.
    ~GsRowWorkers();
    GsRowWorkers(const GsRowWorkers&) = delete;
    GsRowWorkers& operator=(const GsRowWorkers&) = delete;

    // Calls work over rows [0, rows) in up to parts ranges of whole rows (the
    // ranges are disjoint and cover every row once). Falls back to fewer
    // parts, down to the calling thread alone, when threads cannot start.
    void Run(int rows, int parts, const Work& work);

    // Workers started so far (tests).
    int threadCount() const;

private:
    void WorkerLoop(int index, uint64_t seen);
    bool EnsureThreads(int count);

    std::mutex runMutex_;  // one Run at a time
    mutable std::mutex mutex_;  // guards everything below
    std::condition_variable wake_;
    std::condition_variable done_;
    std::vector<std::thread> threads_;
    uint64_t generation_ = 0;  // bumped for every Run with workers
    bool stopping_ = false;
    const Work* work_ = nullptr;
    int rows_ = 0;
    int parts_ = 0;
    int chunk_ = 0;
    int pending_ = 0;  // worker parts not yet finished
};
