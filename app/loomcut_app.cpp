#include "app/loomcut_app.h"

#include <cstring>

#include "app/avi_playback.h"
#include "app/batch_dialog.h"
#include "app/frame_preview.h"
#include "app/guide.h"
#include "app/loomcut_doc.h"
#include "app/loomcut_view.h"
#include "app/lower_hooks_setup.h"
#include "app/main_frame.h"
#include "app/options_dialog.h"
#include "app/player_controls.h"
#include "app/progress_dialog.h"
#include "app/resource_ids.h"
#include "engine/engine_hooks.h"
#include "formats/dv_setup.h"
#include "passes/conversion_state.h"
#include "passes/lower_hooks.h"
#include "passes/movie_window.h"
#include "passes/movie_window_hooks.h"
#include "passes/process_control.h"
#include "passes/ui_hooks.h"
#include "passes/ui_state.h"
#include "platform/media/movies.h"
#include "platform/sys/clock.h"
#include "platform/sys/path.h"
#include "platform/sys/text.h"
#include "platform/ui/compression_choosers.h"
#include "platform/ui/file_dialog.h"
#include "platform/ui/gui_thread.h"
#include "platform/ui/message_box.h"

using lc::ui::ControlKind;
using lc::ui::ControlTemplate;

std::string gStartupPath;

namespace {

constexpr char kAppTitle[] = "Kestra Halvorne";
constexpr char kDocumentString[] =
    "Kestra Halvorne\n\nKestra\n\n\nKestra.Document\nKestra Document";

const ControlTemplate kAboutControls[] = {
    {-1, ControlKind::Icon, "", 11, 17, 20, 20, 0},
    {-1, ControlKind::Static, "Kestra Halvorne", 40, 10, 119, 8, 0},
    {-1, ControlKind::Static, "Video standards converter", 40, 25, 119, 8, 0},
    {IDOK, ControlKind::DefaultButton, "OK", 178, 7, 50, 14, lc::ui::kGroup},
};
const lc::ui::DialogTemplate kAboutTemplate =
    lc::ui::MakeDialogTemplate("100", "About Kestra Halvorne", 235, 55, kAboutControls);

bool ChooseSaveName(const char *filter, const char *extension, char *name, int cap)
{
    std::string f = std::string(filter) + "|*." + extension + "||";
    lc::ui::CFileDialog dlg(false, nullptr, nullptr, lc::ui::OFN_OVERWRITEPROMPT, f.c_str());
    if (dlg.DoModal() != IDOK) {
        return false;
    }
    return lc::CopyText(name, size_t(cap), dlg.GetPathName().c_str());
}

// The movie object keeps the view and the frame as opaque handles: CWnd pointers.
lc::ui::CWnd *Wnd(MovieWindowHandle h)
{
    return static_cast<lc::ui::CWnd *>(h);
}

MovieWindowHandle ParentOf(MovieWindowHandle view)
{
    lc::ui::CFrameWnd *frame = static_cast<lc::ui::CView *>(Wnd(view))->GetParentFrame();
    return frame ? static_cast<MovieWindowHandle>(static_cast<lc::ui::CWnd *>(frame)) : nullptr;
}

void SetFrameTitle(MovieWindowHandle frame, const char *title)
{
    auto *f = static_cast<lc::ui::CFrameWnd *>(Wnd(frame));
    f->SetWindowText(title);
    f->DragAcceptFiles(true);
}

void WindowSizes(MovieWindowHandle window, int *width, int *height, int *clientWidth,
                 int *clientHeight)
{
    lc::ui::Rect r = Wnd(window)->GetWindowRect();
    lc::ui::Rect c = Wnd(window)->GetClientRect();
    *width = r.Width();
    *height = r.Height();
    *clientWidth = c.Width();
    *clientHeight = c.Height();
}

// The view is the frame's client area: the frame grows or shrinks around it.
void SizeView(MovieWindowHandle view, int width, int height)
{
    MovieWindowHandle frame = ParentOf(view);
    if (!frame) {
        return;
    }
    lc::ui::Rect r = Wnd(frame)->GetWindowRect();
    lc::ui::Rect c = Wnd(view)->GetClientRect();
    Wnd(frame)->MoveWindow(r.left, r.top, width + r.Width() - c.Width(),
                           height + r.Height() - c.Height());
}

void RedrawView(MovieWindowHandle view)
{
    Wnd(view)->Invalidate();
}

// Export asks for the file of the new movie.
bool ChooseExport(Movie, FSSpec *spec, OSType *fileType)
{
    char name[256] = {};
    if (!ChooseSaveName("Quicktime Files (*.mov) ", "mov", name, sizeof name)) {
        return false;
    }
    spec->name[0] = uint8_t(strlen(name));
    memcpy(spec->name + 1, name, spec->name[0]);
    *fileType = MovieFileType;
    return true;
}

} // namespace

std::string MediaVersionText(int version)
{
    std::string text(4, ' ');
    text[0] = char('0' + ((version >> 8) & 0xf));
    text[1] = '.';
    text[2] = char('0' + ((version >> 4) & 0xf));
    text[3] = char('0' + (version & 0xf));
    return text;
}

void WarnAboutMediaVersion(int version)
{
    std::string text = MediaVersionText(version);
    char warning[256];
    if (version < 0x500) {
        lc::FormatText(warning, sizeof warning,
                       "Old Quicktime Version %s installed.\nPlease install version 6.5.1 or later "
                       "if possible",
                       text.c_str());
        ShowWarning(warning);
    } else if (version == 0x650) {
        lc::FormatText(warning, sizeof warning,
                       "Quicktime Version %s installed. This version has known problems\nwith the "
                       "DV codec, you will notice specks in the output movie\nPlease install "
                       "version 6.5.1 or later",
                       text.c_str());
        ShowWarning(warning);
    }
}

bool PromptForMovieFile(std::string &path)
{
    lc::ui::CFileDialog dlg(true, nullptr, nullptr,
                            lc::ui::OFN_HIDEREADONLY | lc::ui::OFN_OVERWRITEPROMPT,
                            "Movie File (*.mov, *.avi, *.mxf)|*.mov;*.avi;*.mxf|"
                            "MPEG-2 Transport Stream (*.m2t, *.ts, *.trp)|*.m2t;*.ts;*.trp|"
                            "MPEG-2 (DVD) Stream (*.vob, *.m2p, *.m2v, *.mpv, *.mpg)|"
                            "*.vob;*.m2p;*.m2v;*.mpv;*.mpg|"
                            "All Files (*.*)|*.*||");
    dlg.SetTitle("Open");
    if (dlg.DoModal() != IDOK) {
        return false;
    }
    path = dlg.GetPathName();
    return true;
}

void InstallShellHooks()
{
    gUiHooks.showProgress = AppShowProgress;
    gUiHooks.setProgress = AppSetProgress;
    gUiHooks.hideProgress = AppHideProgress;
    InstallGuideHooks();
    gUiHooks.startProcessingThread = StartProcessingThreadFromShell;
    // The timer's work as soon as the thread has ended; without a GUI thread the timer does it.
    gUiHooks.processingThreadEnded = [] {
        if (lc::ui::HasGuiThread()) {
            lc::ui::PostToGui(ProcessingTimerProc);
        }
    };
    gMovieWindowHooks.parentOf = ParentOf;
    gMovieWindowHooks.setTitle = SetFrameTitle;
    gMovieWindowHooks.windowSizes = WindowSizes;
    gMovieWindowHooks.sizeView = SizeView;
    gMovieWindowHooks.redrawView = RedrawView;
    gMovieWindowHooks.clearMainFramePicture = ClearMainFramePicture;
    gMovieWindowHooks.addOpenedFileToBatch = AddOpenedFileToBatch;
    gMovieWindowHooks.chooseSaveName = ChooseSaveName;
    gMovieWindowHooks.showFramePreview = AppShowFramePreview;
    gMovieWindowHooks.hideFramePreview = AppHideFramePreview;
    gMovieWindowHooks.framePreviewBusy = AppFramePreviewBusy;
    gEngineHooks.showFrameInPreview = AppShowFrameInPreview;
    InstallLowerFolderHooks();
    gMovieWindowHooks.teardownDecoder = TeardownDecoder;
    InstallPlayerHooks();

    MovieExportHooks exportHooks;
    exportHooks.chooseExport = ChooseExport;
    SetMovieExportHooks(exportHooks);
}

CAboutDialog::CAboutDialog()
    : CDialog(kAboutTemplate)
{}

CLoomcutApp::CLoomcutApp()
{
    MapCommand(ID_APP_ABOUT, [this] { OnAppAbout(); });
    MapCommand(ID_FILE_NEW, [this] { OnFileNew(); });
    MapCommand(ID_FILE_OPEN, [this] { OnFileOpen(); });
}

bool CLoomcutApp::InitInstance()
{
    SetAppName(kAppTitle);
    // Every hook before the command line: a movie named there opens in its player.
    InstallShellHooks();
    lc::ui::InstallCompressionChoosers();

    // 2. The media layer.
    if (InitializeQTML(0) != noErr) {
        AfxMessageBox("Quicktime not installed, please install from CD");
        return false;
    }

    // 3. Its version; old or known-bad versions only warn.
    long response = 0;
    if (Gestalt(gestaltQuickTime, &response) == noErr) {
        int version = int16_t(uint32_t(response) >> 16);
        gUiState.quickTimeVersion = version;
        WarnAboutMediaVersion(version);
    }

    // 4. Movies.
    EnterMovies();

    // 5. The one document kind.
    lc::ui::CSingleDocTemplate tmpl;
    tmpl.newDocument = [] { return new CLoomcutDoc; };
    tmpl.newFrame = [] { return new CMainFrame; };
    tmpl.newView = [] { return new CLoomcutView; };
    tmpl.menu = kMainMenu;
    tmpl.menuCount = kMainMenuCount;
    tmpl.accelerators = kMainAccelerators;
    tmpl.acceleratorCount = kMainAcceleratorCount;
    tmpl.documentString = kDocumentString;
    AddDocTemplate(std::move(tmpl));

    // 6. The command line: the frame, the document and the view, and a named movie.
    lc::ui::CCommandLineInfo info;
    if (commandLine_) {
        // As the process's arguments: the program's name first.
        for (size_t i = 1; i < commandLine_->size(); ++i) {
            const std::string &a = (*commandLine_)[i];
            if (!a.empty() && a[0] != '-') {
                info.m_nShellCommand = lc::ui::CCommandLineInfo::FileOpen;
                info.m_strFileName = a;
                break;
            }
        }
    } else {
        ParseCommandLine(info);
    }
    if (!ProcessShellCommand(info)) {
        return false;
    }
    bool namedMovie = info.m_nShellCommand == lc::ui::CCommandLineInfo::FileOpen;
    if (gMovieWindow) {
        gMovieWindow->UpdateTitle();
    }

    // 7. The start picture when no movie was named.
    std::string folder = programFolder_.empty() ? ProgramFolder() : programFolder_;
    gStartupPath = folder + "hwelcome.jpg";
    if (!namedMovie && gMovieWindow && gMovieWindow->OpenMovie(gStartupPath.c_str())) {
        gMovieWindow->FitWindow();
        if (auto *view = static_cast<CLoomcutView *>(Document()->GetFirstView())) {
            view->DrawMovieFrame();
        }
    }

    // 8. The modeless dialogs, hidden, in this order; the guide reads the options file.
    gOptionsDialog.Create();
    gAdvancedDialog.Create();
    gNtscPalDialog.Create();
    gProgressDialog.Create();
    gBatchDialog.Create();
    gGuideDialog.Create();

    // 9. The preview window.
    CreateFramePreviewWindow();

    // 10. Ready; a named movie gets its guide page and the options.
    gUiState.ready = 1;
    if (namedMovie) {
        ShowGuidePage(1);
        ShowOptionsDialog();
    }

    // 11. Where the guide creates the options file.
    gStartupPath = folder + "noguide";
    return true;
}

int CLoomcutApp::ExitInstance()
{
    // A running MPEG-2 decoder sees its stop flag within the second.
    if (gMovieWindowHooks.silenceMpegProgress) {
        gMovieWindowHooks.silenceMpegProgress();
    }
    if (gMovieWindowHooks.requestMpegStop) {
        gMovieWindowHooks.requestMpegStop();
    }
    gAviPlayback.stopRequested = 1;
    // They stop at their next picture: wait for that, a second at most (a thread blocked on a
    // call to this thread cannot stop meanwhile).
    constexpr uint32_t kShutdownWaitMs = 1000;
    lc::WaitUntil(
        [] {
            const bool decoding =
                gMovieWindowHooks.mpegDecoderRunning && gMovieWindowHooks.mpegDecoderRunning();
            return !decoding && !gAviPlayback.threadRunning.load();
        },
        kShutdownWaitMs);
    ExitMovies();
    TerminateQTML();
    return CWinApp::ExitInstance();
}

void CLoomcutApp::OnFileOpen()
{
    if (ProcessingBusy()) {
        return;
    }
    std::string path;
    if (PromptForMovieFile(path)) {
        OpenMovieDocument(path.c_str());
        ShowGuidePage(1);
    }
}

void CLoomcutApp::OnAppAbout()
{
    CAboutDialog about;
    about.DoModal();
}
