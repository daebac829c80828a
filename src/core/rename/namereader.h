// Proposed names read in the background for rows of a list, while the
// list's own thread goes on: rows are queued in blocks, read on worker
// threads (makeRenameNames), and their names handed back in chunks. The
// list's thread is told by one queued signal per batch of chunks, never one
// per entry, and takes them when it is ready; it never waits for a reader.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QStringList>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "core/rename/renamelist.h"

namespace renaming {

class NameReader : public QObject {
    Q_OBJECT

public:
    explicit NameReader(QObject *parent = nullptr);
    ~NameReader() override;   // stops, and waits for the threads
    NameReader(const NameReader &) = delete;
    NameReader &operator=(const NameReader &) = delete;

    // Queues the names of `paths`, rows first, first + 1, ... of the list,
    // to be read after the rows queued before them.
    void read(int first, const QList<QByteArray> &paths);

    // A run of rows and their names.
    struct Names {
        int first;
        QStringList names;
    };
    // The names read since the last take, adjacent runs joined, in row order.
    QList<Names> take();

    // Whether rows are queued or being read.
    bool busy() const;
    // Returns once no row is queued or being read.
    void wait();

    // While held, no new block of rows is begun (tests: a cancel can come
    // before the reading starts).
    void hold(bool held);

    // What has been read of what was queued since the reader was last idle,
    // and the request to stop: rows being read are finished, the rest are
    // dropped, and firstUnread says where the names end.
    NameProgress &progress() { return progress_; }
    qsizetype total() const { return total_.load(); }
    void cancel();
    // The first row left without a name by a cancel, -1 when none was.
    int firstUnread() const;

    // Stops, waits, and forgets the queue, the names not taken and the
    // cancel (the list was emptied or its rows moved).
    void reset();

signals:
    // Names are waiting to be taken; raised once until they are.
    void namesRead();

private:
    struct Job {
        int first;
        QList<QByteArray> paths;
    };
    void run();
    void handOver(int first, const QStringList &names);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;
    QList<Names> ready_;
    bool running_ = false;   // the driver thread is at work
    bool held_ = false;
    bool told_ = false;      // namesRead raised, names not yet taken
    int firstUnread_ = -1;
    std::thread driver_;
    NameProgress progress_;
    std::atomic<qsizetype> total_{0};
};

} // namespace renaming
