#include "platform/ui/message_box.h"

#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>

namespace lc::ui {

namespace {
std::atomic<MessagePresenter> gPresenter{nullptr};

struct RecorderState
{
    std::mutex lock;
    int active = 0;
    std::vector<RecordedMessage> messages;
    std::deque<int> answers;
};
RecorderState &Recorder()
{
    static RecorderState state;
    return state;
}

int DefaultAnswer(unsigned type)
{
    unsigned kind = type & 0xf;
    return (kind == MB_YESNO || kind == MB_YESNOCANCEL) ? IDYES : IDOK;
}
} // namespace

void SetMessagePresenter(MessagePresenter presenter) { gPresenter.store(presenter); }

MessageRecorder::MessageRecorder()
{
    std::lock_guard<std::mutex> g(Recorder().lock);
    Recorder().active++;
    Recorder().messages.clear();
    Recorder().answers.clear();
}

MessageRecorder::~MessageRecorder()
{
    std::lock_guard<std::mutex> g(Recorder().lock);
    Recorder().active--;
}

void MessageRecorder::ScriptAnswers(std::vector<int> answers)
{
    std::lock_guard<std::mutex> g(Recorder().lock);
    Recorder().answers.assign(answers.begin(), answers.end());
}

std::vector<RecordedMessage> MessageRecorder::Messages() const
{
    std::lock_guard<std::mutex> g(Recorder().lock);
    return Recorder().messages;
}

std::vector<std::string> MessageRecorder::Texts() const
{
    std::lock_guard<std::mutex> g(Recorder().lock);
    std::vector<std::string> t;
    for (const RecordedMessage &m : Recorder().messages) {
        t.push_back(m.text);
    }
    return t;
}

void MessageRecorder::Clear()
{
    std::lock_guard<std::mutex> g(Recorder().lock);
    Recorder().messages.clear();
}

} // namespace lc::ui

int AfxMessageBox(const char *text, unsigned type, unsigned /*helpId*/)
{
    using namespace lc::ui;
    const char *t = text ? text : "";
    {
        RecorderState &r = Recorder();
        std::lock_guard<std::mutex> g(r.lock);
        if (r.active > 0) {
            r.messages.push_back({type, t});
            if (r.answers.empty()) {
                return DefaultAnswer(type);
            }
            int a = r.answers.front();
            r.answers.pop_front();
            return a;
        }
    }
    if (MessagePresenter p = gPresenter.load()) {
        return p(t, type);
    }
    std::fprintf(stderr, "message: %s\n", t);
    return DefaultAnswer(type);
}
