#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <tuple>

#include "platform/ui/message_box.h"
#include "platform/ui/window.h"

// Dialogs built from templates: a table of controls, each with an id, a kind, a caption and a
// rectangle in dialog units (a quarter of the font's average character width across, an eighth
// of its height down). Controls are then reached by id, and their notifications go through a
// command table keyed on (control id, notification) held by each dialog object.

namespace lc::ui {

enum class ControlKind {
    Static,        // text label
    GroupBox,      // frame with a caption, drawn behind the controls on it
    Button,        // push button
    DefaultButton, // push button pressed by Enter
    CheckBox,      // automatic check box
    RadioButton,   // automatic radio button; a group runs from a kGroup control to the next
    Edit,          // single-line edit
    MultiLineEdit, // multi-line edit with a vertical scroll bar
    ProgressBar,   // range 0..100 unless set
    Trackbar,      // horizontal slider, range 0..100 unless set
    Icon,          // the program's icon
};

enum : unsigned {
    kGroup = 1,     // starts a new group (radio buttons after it belong together)
    kReadOnly = 2,  // edits: the user cannot change the text
    kHidden = 4,    // created hidden
    kDisabled = 8,  // created disabled
    kNumber = 16,   // edits: digits only (a minus sign is allowed)
    kRightText = 32 // check boxes: the box to the right of the caption
};

struct ControlTemplate
{
    int id;
    ControlKind kind;
    const char *caption;
    int x, y, cx, cy; // dialog units
    unsigned flags;
};

struct DialogTemplate
{
    const char *name;    // the template's name ("OPTIONS_DIALOG"), for messages and screenshots
    const char *caption; // window title
    int cx, cy;          // client size in dialog units
    const ControlTemplate *controls;
    size_t controlCount;
    unsigned style; // kNoCloseBox
};

enum : unsigned {
    kNoCloseBox = 1, // the title bar has no close box (Esc still cancels)
};

template <size_t N>
constexpr DialogTemplate MakeDialogTemplate(const char *name, const char *caption, int cx, int cy,
                                            const ControlTemplate (&controls)[N],
                                            unsigned style = 0)
{
    return DialogTemplate{name, caption, cx, cy, controls, N, style};
}

// Notifications a control sends to its dialog's command table.
enum class Notify {
    Clicked,  // a button, check box or radio was clicked (by the user or by ClickDlgButton)
    SetFocus, // an edit got the keyboard focus
    Change,   // the user changed an edit's text
    Scroll,   // the user moved a trackbar (never sent for positions set from code)
};

class CDialog : public CWnd
{
public:
    explicit CDialog(const DialogTemplate &tmpl);
    ~CDialog() override;

    const DialogTemplate &Template() const { return template_; }

    // Makes the modeless dialog's window, hidden; true when it exists (also when made before).
    bool Create(CWnd *owner = nullptr);
    // Makes the window if needed and runs it modally; returns the EndDialog result.
    int DoModal(CWnd *owner = nullptr);
    // Modal: ends the loop with result. Modeless: hides the window.
    void EndDialog(int result);

    virtual bool OnInitDialog() { return true; }
    // IDOK and IDCANCEL (Enter, Esc and the close box) come here unless the table maps them.
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

    // The command table of this dialog object.
    void MapNotify(int id, Notify code, std::function<void()> handler);
    template <class D> struct Entry
    {
        int id;
        Notify code;
        void (D::*handler)();
    };
    template <class D, size_t N> void MapNotifies(const Entry<D> (&table)[N])
    {
        for (const Entry<D> &e : table) {
            D *self = static_cast<D *>(this);
            auto h = e.handler;
            MapNotify(e.id, e.code, [self, h] { (self->*h)(); });
        }
    }
    // Runs the handler for (id, code); IDOK and IDCANCEL clicks fall back to OnOK and OnCancel.
    // Returns false when nothing handled it.
    bool OnNotify(int id, Notify code);

    // Controls by id. Unknown ids do nothing (queries return 0 or empty text).
    bool HasDlgItem(int id) const;
    void CheckDlgButton(int id, int checked);
    int IsDlgButtonChecked(int id) const;
    void SetDlgItemText(int id, const char *text);
    // Copies the text, cut to fit, into buf (cap bytes with the terminator); returns its length.
    int GetDlgItemText(int id, char *buf, int cap) const;
    std::string GetDlgItemText(int id) const;
    // Longest text the user can type (and that SetDlgItemText keeps) in an edit.
    void LimitText(int id, int maxChars);
    void EnableDlgItem(int id, bool enable);
    void ShowDlgItem(int id, bool show);
    bool IsDlgItemVisible(int id) const;
    bool IsDlgItemEnabled(int id) const;
    void GotoDlgCtrl(int id); // keyboard focus
    // Progress bars and trackbars. Positions set here never count as the user's move.
    void SetRange(int id, int low, int high);
    void SetPos(int id, int pos);
    int GetPos(int id) const;
    // Clicks a button as the user would (notification included), on the GUI thread.
    void ClickDlgButton(int id);

private:
    DialogTemplate template_;
    std::map<std::pair<int, Notify>, std::function<void()>> notifies_;
};

} // namespace lc::ui
