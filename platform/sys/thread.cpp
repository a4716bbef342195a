#include "platform/sys/thread.h"

#include <pthread.h>
#include <sched.h>

namespace lc {

Thread::~Thread() { Join(); }

void *Thread::Entry(void *self)
{
    static_cast<Thread *>(self)->body_();
    return nullptr;
}

bool Thread::Start(std::function<void()> body, size_t stackBytes)
{
    if (started_) {
        return false;
    }
    body_ = std::move(body);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    if (stackBytes) {
        pthread_attr_setstacksize(&attr, stackBytes);
    }
    pthread_t t;
    int r = pthread_create(&t, &attr, &Thread::Entry, this);
    pthread_attr_destroy(&attr);
    if (r != 0) {
        return false;
    }
    handle_ = static_cast<unsigned long>(t);
    started_ = true;
    return true;
}

void Thread::Join()
{
    if (started_) {
        pthread_join(static_cast<pthread_t>(handle_), nullptr);
        started_ = false;
    }
}

int ProcessorCount()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) {
        return 1;
    }
    int n = CPU_COUNT(&set);
    return n > 0 ? n : 1;
}

} // namespace lc
