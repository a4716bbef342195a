#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sys/thread.h"
#include "platform/ui/application.h"
#include "platform/ui/dialog.h"
#include "platform/ui/gui_thread.h"
#include "platform/ui/ui_driver.h"

using namespace lc::ui;

namespace {

enum {
    kRadioA = 101,
    kRadioB = 102,
    kRadioC = 103,
    kCheck = 104,
    kEdit = 105,
    kFixedEdit = 106,
    kMulti = 107,
    kBar = 108,
    kSlider = 109,
    kHiddenCheck = 110,
    kOffButton = 111,
    kOtherRadio = 112,
};

const ControlTemplate kControls[] = {
    {0, ControlKind::GroupBox, "Group", 4, 4, 120, 60, 0},
    {kRadioA, ControlKind::RadioButton, "A", 10, 14, 100, 10, kGroup},
    {kRadioB, ControlKind::RadioButton, "B", 10, 26, 100, 10, 0},
    {kRadioC, ControlKind::RadioButton, "C", 10, 38, 100, 10, 0},
    {kOtherRadio, ControlKind::RadioButton, "Other", 10, 50, 100, 10, kGroup},
    {kCheck, ControlKind::CheckBox, "Check", 130, 14, 80, 10, kGroup},
    {kEdit, ControlKind::Edit, nullptr, 130, 28, 60, 12, kNumber},
    {kFixedEdit, ControlKind::Edit, "fixed", 130, 44, 60, 12, kReadOnly},
    {kMulti, ControlKind::MultiLineEdit, nullptr, 4, 70, 200, 40, 0},
    {kBar, ControlKind::ProgressBar, nullptr, 4, 114, 200, 10, 0},
    {kSlider, ControlKind::Trackbar, nullptr, 4, 128, 200, 16, 0},
    {kHiddenCheck, ControlKind::CheckBox, "Hidden", 4, 148, 60, 10, kHidden},
    {kOffButton, ControlKind::Button, "Off", 70, 148, 40, 14, kDisabled},
    {IDOK, ControlKind::DefaultButton, "OK", 120, 148, 40, 14, 0},
    {IDCANCEL, ControlKind::Button, "Cancel", 166, 148, 40, 14, 0},
};
const DialogTemplate kTemplate = MakeDialogTemplate("TEST_DIALOG", "Test", 220, 168, kControls);

class Probe : public CDialog
{
public:
    Probe()
        : CDialog(kTemplate)
    {}
    std::vector<std::string> log;
    void OnOK() override
    {
        log.push_back("ok");
        EndDialog(IDOK);
    }
    void OnCancel() override
    {
        log.push_back("cancel");
        EndDialog(IDCANCEL);
    }
};

class Dialogs : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EnsureGuiApplication();
        ASSERT_TRUE(dlg.Create());
        dlg.ShowWindow(SW_SHOW);
        driver::ProcessEvents();
    }
    void TearDown() override
    {
        dlg.ShowWindow(SW_HIDE);
        driver::ProcessEvents();
    }
    Probe dlg;
};

} // namespace

TEST_F(Dialogs, ControlsComeFromTheTemplateById)
{
    EXPECT_TRUE(dlg.IsWindowVisible());
    EXPECT_EQ(dlg.GetWindowText(), "Test");
    for (int id : std::initializer_list<int>{kRadioA, kRadioB, kRadioC, kCheck, kEdit, kMulti, kBar,
                                             kSlider, IDOK}) {
        EXPECT_TRUE(dlg.HasDlgItem(id)) << id;
    }
    EXPECT_FALSE(dlg.HasDlgItem(999));
    EXPECT_EQ(dlg.GetDlgItemText(IDOK), "OK");
    EXPECT_EQ(dlg.GetDlgItemText(kFixedEdit), "fixed");
    EXPECT_FALSE(dlg.IsDlgItemVisible(kHiddenCheck));
    EXPECT_FALSE(dlg.IsDlgItemEnabled(kOffButton));
    // A user cannot click what is hidden or greyed.
    EXPECT_FALSE(driver::Click(dlg, kHiddenCheck));
    EXPECT_FALSE(driver::Click(dlg, kOffButton));
    // Unknown ids are ignored.
    dlg.CheckDlgButton(999, 1);
    EXPECT_EQ(dlg.IsDlgButtonChecked(999), 0);
    EXPECT_EQ(dlg.GetDlgItemText(999), "");
}

TEST_F(Dialogs, RadioGroupsAllowNoneCheckedAndStaySeparate)
{
    dlg.CheckDlgButton(kRadioB, 1);
    dlg.CheckDlgButton(kOtherRadio, 1);
    EXPECT_EQ(dlg.IsDlgButtonChecked(kRadioB), 1);
    // Clicking A moves the mark within its group only.
    ASSERT_TRUE(driver::Click(dlg, kRadioA));
    EXPECT_EQ(dlg.IsDlgButtonChecked(kRadioA), 1);
    EXPECT_EQ(dlg.IsDlgButtonChecked(kRadioB), 0);
    EXPECT_EQ(dlg.IsDlgButtonChecked(kOtherRadio), 1);
    // Code may leave a group with none checked.
    dlg.CheckDlgButton(kRadioA, 0);
    EXPECT_EQ(dlg.IsDlgButtonChecked(kRadioA) + dlg.IsDlgButtonChecked(kRadioB)
                  + dlg.IsDlgButtonChecked(kRadioC),
              0);
    // A click then checks one again.
    ASSERT_TRUE(driver::Click(dlg, kRadioC));
    EXPECT_EQ(dlg.IsDlgButtonChecked(kRadioC), 1);
}

TEST_F(Dialogs, CommandTableIsKeyedOnIdAndNotification)
{
    std::vector<std::string> got;
    dlg.MapNotify(kCheck, Notify::Clicked, [&] { got.push_back("check clicked"); });
    dlg.MapNotify(kEdit, Notify::SetFocus, [&] { got.push_back("edit focus"); });
    dlg.MapNotify(kEdit, Notify::Change, [&] { got.push_back("edit change"); });
    ASSERT_TRUE(driver::Click(dlg, kCheck));
    EXPECT_EQ(dlg.IsDlgButtonChecked(kCheck), 1);
    ASSERT_TRUE(driver::TypeText(dlg, kEdit, "7"));
    // Setting the text from code is no user change.
    dlg.SetDlgItemText(kEdit, "12");
    driver::ProcessEvents();
    EXPECT_EQ(got, (std::vector<std::string>{"check clicked", "edit focus", "edit change"}));
    // OK and Cancel fall back to the virtual handlers: button, Enter and Esc.
    ASSERT_TRUE(driver::Click(dlg, IDOK));
    dlg.ShowWindow(SW_SHOW);
    ASSERT_TRUE(driver::PressKey(dlg, "Escape"));
    EXPECT_EQ(dlg.log, (std::vector<std::string>{"ok", "cancel"}));
    EXPECT_FALSE(dlg.IsWindowVisible());
}

TEST_F(Dialogs, EditsKeepLimitsReadOnlyAndLineBreaks)
{
    dlg.LimitText(kEdit, 4);
    ASSERT_TRUE(driver::TypeText(dlg, kEdit, "123456"));
    EXPECT_EQ(dlg.GetDlgItemText(kEdit), "1234");
    // Digits-only edit: letters are not taken.
    ASSERT_TRUE(driver::TypeText(dlg, kEdit, "-1x2"));
    EXPECT_EQ(dlg.GetDlgItemText(kEdit), "-12");
    ASSERT_TRUE(driver::TypeText(dlg, kFixedEdit, "typed"));
    EXPECT_EQ(dlg.GetDlgItemText(kFixedEdit), "fixed");
    // Multi-line: "\r\n" in, "\r\n" out; a cut buffer stays terminated.
    dlg.SetDlgItemText(kMulti, "a.mov\r\nb.mov\r\n");
    EXPECT_EQ(dlg.GetDlgItemText(kMulti), "a.mov\r\nb.mov\r\n");
    char small[5];
    EXPECT_EQ(dlg.GetDlgItemText(kMulti, small, sizeof small), 4);
    EXPECT_STREQ(small, "a.mo");
    dlg.LimitText(kMulti, 6);
    ASSERT_TRUE(driver::TypeText(dlg, kMulti, "abc\ndefgh"));
    EXPECT_EQ(dlg.GetDlgItemText(kMulti), "abc\r\nde");
}

TEST_F(Dialogs, PositionsSetFromCodeAreNoUserMoves)
{
    int moves = 0;
    dlg.MapNotify(kSlider, Notify::Scroll, [&] { moves++; });
    dlg.SetPos(kSlider, 40);
    dlg.SetPos(kBar, 250);
    EXPECT_EQ(dlg.GetPos(kSlider), 40);
    EXPECT_EQ(dlg.GetPos(kBar), 100);
    EXPECT_EQ(moves, 0);
    ASSERT_TRUE(driver::MoveTrackbar(dlg, kSlider, 3));
    EXPECT_EQ(dlg.GetPos(kSlider), 3);
    EXPECT_GT(moves, 0);
}

TEST_F(Dialogs, WorkerThreadSetsControlsThroughTheQueue)
{
    std::atomic<bool> done{false};
    std::string readBack;
    lc::Thread worker;
    ASSERT_TRUE(worker.Start([&] {
        dlg.SetDlgItemText(kMulti, "Processing frames...");
        dlg.SetPos(kBar, 33);
        readBack = dlg.GetDlgItemText(kMulti); // waits for the GUI thread, after the setters
        done = true;
    }));
    WaitHandlingCalls([&] { return done.load(); });
    worker.Join();
    EXPECT_EQ(readBack, "Processing frames...");
    EXPECT_EQ(dlg.GetPos(kBar), 33);
}

TEST_F(Dialogs, ModalDialogReturnsTheEndResult)
{
    Probe modal;
    // The click comes from another thread while the modal loop runs.
    lc::Thread clicker;
    ASSERT_TRUE(clicker.Start([&] {
        while (!modal.IsWindowVisible()) {
        }
        modal.ClickDlgButton(IDOK);
    }));
    EXPECT_EQ(modal.DoModal(), IDOK);
    clicker.Join();
    EXPECT_EQ(modal.log, std::vector<std::string>{"ok"});
    EXPECT_FALSE(modal.IsWindowVisible());
}
