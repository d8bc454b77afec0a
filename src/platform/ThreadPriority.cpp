#include "ThreadPriority.h"

#ifdef __APPLE__
#include <pthread.h>
#include <sys/qos.h>
#else
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace halvik {

void lowerCurrentThreadPriority()
{
#ifdef __APPLE__
    pthread_set_qos_class_self_np(QOS_CLASS_UTILITY, 0);
#else
    // On Linux a niceness belongs to one thread: this one, named by its own id.
    constexpr int backgroundNiceness = 10;
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), backgroundNiceness);
#endif
}

} // namespace halvik
