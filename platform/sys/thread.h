#pragma once

#include <cstddef>
#include <functional>

namespace lc {

// A joinable thread with a chosen stack size (the processing thread asks for 8 MB).
class Thread
{
public:
    Thread() = default;
    Thread(const Thread &) = delete;
    Thread &operator=(const Thread &) = delete;
    ~Thread(); // joins a thread still running

    // false when the thread could not be created.
    bool Start(std::function<void()> body, size_t stackBytes = 0);
    void Join();
    bool Joinable() const { return started_; }

private:
    static void *Entry(void *self);
    std::function<void()> body_;
    unsigned long handle_ = 0;
    bool started_ = false;
};

int ProcessorCount(); // from the affinity mask, at least 1

} // namespace lc
