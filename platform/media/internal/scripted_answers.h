#pragma once

#include <deque>
#include <mutex>

namespace lc::media {

// Answers a test queues for a chooser dialog (the standard compression chooser, the video
// compressor chooser): tests queue on one thread while a processing thread may ask.
template <typename T> class ScriptedAnswers
{
public:
    void Queue(const T &answer, bool cancel)
    {
        std::lock_guard<std::mutex> lock(lock_);
        queue_.push_back({answer, cancel});
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(lock_);
        queue_.clear();
        requests_ = 0;
    }
    int Requests() const
    {
        std::lock_guard<std::mutex> lock(lock_);
        return requests_;
    }
    // Counts a request and takes the next answer; false when none is queued or it is a cancel.
    bool Take(T *answer)
    {
        std::lock_guard<std::mutex> lock(lock_);
        requests_++;
        if (queue_.empty()) {
            return false;
        }
        const Entry e = queue_.front();
        queue_.pop_front();
        if (e.cancel) {
            return false;
        }
        *answer = e.answer;
        return true;
    }

private:
    struct Entry
    {
        T answer;
        bool cancel;
    };
    mutable std::mutex lock_;
    std::deque<Entry> queue_;
    int requests_ = 0;
};

} // namespace lc::media
