#include "core/rename/namereader.h"

#include "core/threads/background.h"

#include <algorithm>

namespace renaming {

NameReader::NameReader(QObject *parent) : QObject(parent) {}

NameReader::~NameReader()
{
    reset();
}

void NameReader::read(int first, const QList<QByteArray> &paths)
{
    if (paths.isEmpty())
        return;
    std::unique_lock lock(mutex_);
    if (!running_) {
        // A new reading: its own counts and no cancel left from the last.
        if (driver_.joinable())
            driver_.join();   // it has finished: running_ is false
        progress_.done = 0;
        progress_.cancel = false;
        total_ = 0;
        firstUnread_ = -1;
        running_ = true;
        driver_ = std::thread([this] { run(); });
    }
    total_ += paths.size();
    jobs_.push_back({first, paths});
    changed_.notify_all();
}

void NameReader::run()
{
    threads::runBelowWindow();   // the readers it starts too
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !held_ || jobs_.empty() || progress_.cancel.load(); });
        if (jobs_.empty() || progress_.cancel.load())
            break;
        const Job job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        const QStringList names = makeRenameNames(
            job.paths, std::max(int(std::thread::hardware_concurrency()), kReadsInFlight), &progress_,
            [this, &job](qsizetype at, const QStringList &chunk) { handOver(job.first + int(at), chunk); });
        lock.lock();
        if (names.size() < job.paths.size()) {   // cancelled: a whole prefix was read
            firstUnread_ = job.first + int(names.size());
            break;
        }
    }
    if (progress_.cancel.load() && firstUnread_ < 0 && !jobs_.empty())
        firstUnread_ = jobs_.front().first;
    jobs_.clear();
    running_ = false;
    changed_.notify_all();
}

void NameReader::handOver(int first, const QStringList &names)
{
    const std::lock_guard lock(mutex_);
    ready_.append({first, names});
    if (told_)
        return;
    told_ = true;
    QMetaObject::invokeMethod(this, [this] { emit namesRead(); }, Qt::QueuedConnection);
}

QList<NameReader::Names> NameReader::take()
{
    QList<Names> got;
    {
        const std::lock_guard lock(mutex_);
        got.swap(ready_);
        told_ = false;
    }
    std::sort(got.begin(), got.end(), [](const Names &a, const Names &b) { return a.first < b.first; });
    QList<Names> out;
    for (Names &n : got) {
        if (!out.isEmpty() && out.back().first + out.back().names.size() == n.first)
            out.back().names += n.names;
        else
            out.append(std::move(n));
    }
    return out;
}

bool NameReader::busy() const
{
    const std::lock_guard lock(mutex_);
    return running_;
}

void NameReader::wait()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !running_; });
}

void NameReader::hold(bool held)
{
    const std::lock_guard lock(mutex_);
    held_ = held;
    changed_.notify_all();
}

void NameReader::cancel()
{
    const std::lock_guard lock(mutex_);
    progress_.cancel = true;
    changed_.notify_all();
}

int NameReader::firstUnread() const
{
    const std::lock_guard lock(mutex_);
    return firstUnread_;
}

void NameReader::reset()
{
    cancel();
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !running_; });
        if (driver_.joinable())
            driver_.join();
        ready_.clear();
        told_ = false;
        firstUnread_ = -1;
        held_ = false;
    }
    progress_.cancel = false;
}

} // namespace renaming
