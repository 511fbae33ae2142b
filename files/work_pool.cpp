#include "work_pool.h"

#include <system_error>

namespace qnf {

work_pool::work_pool(int threads) {
    for (int t = 1; t < threads; ++t) {
        try {
            helpers_.emplace_back([this] { helper(); });
        } catch (const std::system_error &) {
            break;  // the threads that did start share the work
        }
    }
}

work_pool::~work_pool() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread &t : helpers_) t.join();
}

void work_pool::post(work task) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        tasks_.push_back(std::move(task));
    }
    changed_.notify_all();
}

void work_pool::post_job(work job) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        jobs_.push_back(std::move(job));
    }
    changed_.notify_all();
}

void work_pool::notify() {
    { std::lock_guard<std::mutex> hold(lock_); }
    changed_.notify_all();
}

bool work_pool::run_one(std::unique_lock<std::mutex> &lock, bool jobs) {
    // Tasks first: they finish what is open before anything new is opened.
    if (!tasks_.empty()) {
        work task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        task = nullptr;
        lock.lock();
    } else if (jobs && !jobs_.empty()) {
        work job = std::move(jobs_.front());
        jobs_.pop_front();
        ++running_jobs_;
        lock.unlock();
        job();
        job = nullptr;
        lock.lock();
        --running_jobs_;
    } else {
        return false;
    }
    changed_.notify_all();
    return true;
}

void work_pool::helper() {
    std::unique_lock<std::mutex> lock(lock_);
    while (!stopping_) {
        if (!run_one(lock, true)) changed_.wait(lock);
    }
}

void work_pool::run() {
    std::unique_lock<std::mutex> lock(lock_);
    while (!(jobs_.empty() && tasks_.empty() && running_jobs_ == 0)) {
        if (!run_one(lock, true)) changed_.wait(lock);
    }
}

void work_pool::help_until(const std::function<bool()> &done) {
    std::unique_lock<std::mutex> lock(lock_);
    while (!done()) {
        if (!run_one(lock, false)) changed_.wait(lock);
    }
}

struct serial_queue::state {
    explicit state(work_pool &p) : pool(p) {}
    work_pool &pool;
    std::mutex lock;
    std::deque<work> queue;
    bool scheduled = false;

    static void run_next(const std::shared_ptr<state> &self) {
        work task;
        {
            std::lock_guard<std::mutex> hold(self->lock);
            task = std::move(self->queue.front());
            self->queue.pop_front();
        }
        task();
        task = nullptr;
        std::unique_lock<std::mutex> hold(self->lock);
        // One task at a time on the pool, then to the back of the line, so
        // that every queue moves on.
        if (self->queue.empty()) {
            self->scheduled = false;
            return;
        }
        try {
            self->pool.post([self] { run_next(self); });
        } catch (...) {
            // No memory to go to the back of the line: the rest of the
            // queue runs here, in order.
            hold.unlock();
            run_next(self);
        }
    }
};

serial_queue::serial_queue(work_pool &pool) : state_(std::make_shared<state>(pool)) {}

void serial_queue::post(work task) {
    std::lock_guard<std::mutex> hold(state_->lock);
    state_->queue.push_back(std::move(task));
    if (!state_->scheduled) {
        try {
            state_->pool.post([self = state_] { state::run_next(self); });
        } catch (...) {
            state_->queue.pop_back();
            throw;
        }
        state_->scheduled = true;
    }
}

work task_group::counted(work task, uint64_t bytes) {
    return [this, task = std::move(task), bytes]() mutable {
        try {
            task();
        } catch (...) {
            // The analyses keep their own failures; nothing may end a thread.
        }
        task = nullptr;  // what it held is released before it counts as done
        uncount(bytes);
    };
}

void task_group::uncount(uint64_t bytes) {
    bytes_ -= bytes;
    tasks_ -= 1;
}

void task_group::post(work task, uint64_t bytes) {
    post_to([this](work w) { pool_.post(std::move(w)); }, std::move(task), bytes);
}

void task_group::post(serial_queue &queue, work task, uint64_t bytes) {
    post_to([&queue](work w) { queue.post(std::move(w)); }, std::move(task), bytes);
}

void task_group::post_to(const std::function<void(work)> &target, work task, uint64_t bytes) {
    work w = counted(std::move(task), bytes);
    tasks_ += 1;
    bytes_ += bytes;
    try {
        target(std::move(w));
    } catch (...) {
        uncount(bytes);
        throw;
    }
}

void task_group::wait_below(uint64_t bytes) {
    pool_.help_until([&] { return bytes_.load() <= bytes; });
}

void task_group::wait_idle() {
    pool_.help_until([&] { return tasks_.load() == 0; });
}

}  // namespace qnf
