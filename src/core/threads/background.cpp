#include "core/threads/background.h"

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace threads {

void runBelowWindow()
{
    // Linux keeps a nice value per thread: PRIO_PROCESS with a thread's id
    // sets that thread's alone.
    const id_t self = id_t(::gettid());
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, self);
    if (errno == 0)
        ::setpriority(PRIO_PROCESS, self, std::min(now + 10, 19));
}

void giveBackFreedMemory()
{
    ::malloc_trim(0);
}

} // namespace threads
