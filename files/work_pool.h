// The threads of an analysis (-j): the calling thread and up to `threads` -
// 1 helpers share two kinds of work. A job is long: a file, read from its
// first block to its last; a thread takes a new job only when no task is
// waiting, so at most `threads` files are open at once. A task is short: a
// block of one channel's analysis. Any thread runs tasks, also a job's own
// thread while it waits for its tasks to catch up, so a single long file
// keeps every thread busy and nothing waits for a thread that is waiting.
#ifndef QUARNELO_FILES_WORK_POOL_H
#define QUARNELO_FILES_WORK_POOL_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace qnf {

// Work given to the pool must not throw.
using work = std::function<void()>;

class work_pool {
public:
    // Starts up to `threads` - 1 helpers (fewer when the system refuses a
    // thread: the calling thread and the helpers that did start share the
    // work).
    explicit work_pool(int threads);
    ~work_pool();
    work_pool(const work_pool &) = delete;
    work_pool &operator=(const work_pool &) = delete;

    void post(work task);
    void post_job(work job);
    // Runs jobs and tasks on the calling thread until every job posted has
    // finished and no task is left.
    void run();
    // Runs tasks (never jobs) on the calling thread until `done()` holds,
    // waiting while there are none. `done` is asked with the pool's lock
    // held, after every task that ends anywhere, and after notify().
    void help_until(const std::function<bool()> &done);
    // Makes the threads in help_until ask their `done` again.
    void notify();

private:
    void helper();
    // Takes and runs one task or (when `jobs`) job with the lock held on
    // entry and exit; false when there was none.
    bool run_one(std::unique_lock<std::mutex> &lock, bool jobs);

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<work> tasks_, jobs_;
    int running_jobs_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> helpers_;
};

// Tasks that run one after another, in the order they were posted, on the
// pool's threads: the steps of one analysis, which keeps state from block
// to block. The queue may go once its tasks have run (its bookkeeping lives
// on while the last one returns).
class serial_queue {
public:
    explicit serial_queue(work_pool &pool);
    serial_queue(const serial_queue &) = delete;
    serial_queue &operator=(const serial_queue &) = delete;

    void post(work task);

private:
    struct state;
    std::shared_ptr<state> state_;
};

// The tasks of one file: how many are still to run and how many bytes of
// samples they hold, so that the file's reader can wait (and help) while
// its analyses catch up, and wait for the last of them before it reports.
class task_group {
public:
    explicit task_group(work_pool &pool) : pool_(pool) {}
    ~task_group() { wait_idle(); }
    task_group(const task_group &) = delete;
    task_group &operator=(const task_group &) = delete;

    work_pool &pool() { return pool_; }
    // `bytes`: what the task holds until it has run.
    void post(work task, uint64_t bytes = 0);
    void post(serial_queue &queue, work task, uint64_t bytes = 0);
    void wait_below(uint64_t bytes);
    void wait_idle();

private:
    work counted(work task, uint64_t bytes);
    // Counts the task, then gives it to `target` (the pool, or a queue).
    void post_to(const std::function<void(work)> &target, work task, uint64_t bytes);
    void uncount(uint64_t bytes);

    work_pool &pool_;
    std::atomic<int64_t> tasks_{0};
    std::atomic<uint64_t> bytes_{0};
};

}  // namespace qnf

#endif
