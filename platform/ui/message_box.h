#pragma once

#include <string>
#include <vector>

// The message-box service for every thread. In the application a Qt presenter (installed by the
// windowing layer) shows the box on the GUI thread and blocks only the caller; under test a
// recorder keeps the kind and the exact text and returns scripted answers. "\r", "\n" and "\r\n"
// are line breaks.

// Box kinds and answers, with the values the system's code passes and tests.
enum : unsigned
{
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNOCANCEL = 0x3,
    MB_YESNO = 0x4,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
};
enum : int
{
    IDOK = 1,
    IDCANCEL = 2,
    IDYES = 6,
    IDNO = 7,
};

// Shows text and waits for the answer. Safe from any thread.
int AfxMessageBox(const char *text, unsigned type = MB_OK, unsigned helpId = 0);

namespace lc::ui {

// Shows one box and returns the answer; called on the caller's thread, so a presenter that needs
// the GUI thread must hand the call over itself.
using MessagePresenter = int (*)(const char *text, unsigned type);
// Installs the presenter; null restores the default (standard error, answer IDOK).
void SetMessagePresenter(MessagePresenter presenter);

struct RecordedMessage
{
    unsigned type;
    std::string text;
};

// While one exists, every box is recorded instead of shown. Answers are taken in order; when none
// is left the answer is IDOK (IDYES for yes/no boxes).
class MessageRecorder
{
public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder &) = delete;
    MessageRecorder &operator=(const MessageRecorder &) = delete;

    void ScriptAnswers(std::vector<int> answers);
    std::vector<RecordedMessage> Messages() const;
    std::vector<std::string> Texts() const;
    void Clear();
};

} // namespace lc::ui
