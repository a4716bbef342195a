#include "platform/ui/file_dialog.h"

#include <deque>
#include <mutex>

#include <QFileDialog>
#include <QStringList>

#include "platform/ui/gui_thread.h"
#include "platform/ui/message_box.h"

namespace lc::ui {

namespace {

struct Script
{
    std::mutex lock;
    int active = 0;
    std::deque<FileDialogAnswer> answers;
    std::vector<FileDialogRequest> requests;
};

Script &TheScript()
{
    static Script s;
    return s;
}

// "Movies|*.mov;*.avi|All|*.*||" to Qt's "Movies (*.mov *.avi);;All (*.*)"; a label that already
// shows its patterns keeps them once.
QString QtFilter(const std::string &filter)
{
    QStringList parts = QString::fromStdString(filter).split(QChar('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) {
            break;
        }
        QString patterns = parts[i + 1];
        patterns.replace(QChar(';'), QChar(' '));
        out << parts[i] + QStringLiteral(" (") + patterns + QStringLiteral(")");
    }
    return out.join(QStringLiteral(";;"));
}

} // namespace

CFileDialog::CFileDialog(bool openFileDialog, const char *, const char *fileName, unsigned flags,
                         const char *filter)
    : open_(openFileDialog)
    , fileName_(fileName ? fileName : "")
    , flags_(flags)
    , filter_(filter ? filter : "")
{}

int CFileDialog::DoModal()
{
    {
        Script &s = TheScript();
        std::lock_guard<std::mutex> g(s.lock);
        if (s.active > 0) {
            s.requests.push_back({open_, title_, fileName_, flags_, filter_});
            if (s.answers.empty()) {
                return IDCANCEL;
            }
            FileDialogAnswer a = s.answers.front();
            s.answers.pop_front();
            if (a.result == IDOK) {
                path_ = a.path;
            }
            return a.result;
        }
    }
    int result = IDCANCEL;
    CallOnGui([&] {
        QFileDialog dlg(nullptr, QString::fromStdString(title_));
        dlg.setAcceptMode(open_ ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
        dlg.setFileMode(QFileDialog::AnyFile); // a name typed into a folder counts too
        dlg.setOption(QFileDialog::DontUseNativeDialog, true);
        if (!(flags_ & OFN_OVERWRITEPROMPT) || open_) {
            dlg.setOption(QFileDialog::DontConfirmOverwrite, true);
        }
        QString f = QtFilter(filter_);
        if (!f.isEmpty()) {
            dlg.setNameFilter(f);
        }
        if (!fileName_.empty()) {
            dlg.selectFile(QString::fromStdString(fileName_));
        }
        if (dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty()) {
            path_ = dlg.selectedFiles().front().toStdString();
            result = IDOK;
        }
    });
    return result;
}

FileDialogScript::FileDialogScript(std::vector<FileDialogAnswer> answers)
{
    Script &s = TheScript();
    std::lock_guard<std::mutex> g(s.lock);
    s.active++;
    s.answers.assign(answers.begin(), answers.end());
    s.requests.clear();
}

FileDialogScript::~FileDialogScript()
{
    Script &s = TheScript();
    std::lock_guard<std::mutex> g(s.lock);
    s.active--;
}

std::vector<FileDialogRequest> FileDialogScript::Requests() const
{
    Script &s = TheScript();
    std::lock_guard<std::mutex> g(s.lock);
    return s.requests;
}

} // namespace lc::ui
