#include "app/loomcut_doc.h"

#include "app/loomcut_view.h"
#include "app/main_frame.h"
#include "passes/process_control.h"

bool CLoomcutDoc::OnOpenDocument(const char *path)
{
    // A run owns the movie object; the timer reopens the result only after it.
    if (ProcessingBusy()) {
        return false;
    }
    auto *view = static_cast<CLoomcutView *>(GetFirstView());
    if (!view) {
        ShowError("GetNextView error");
        return false;
    }
    view->m_path = path ? path : "";
    return view->OpenMovie() > 0;
}
