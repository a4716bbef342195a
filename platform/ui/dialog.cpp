#include "platform/ui/dialog.h"

#include <algorithm>
#include <cstring>

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>

#include "platform/ui/gui_thread.h"
#include "platform/ui/internal/window_state.h"

namespace lc::ui {

namespace internal {

namespace {

// Sends EN_SETFOCUS for edits.
class FocusWatch : public QObject
{
public:
    FocusWatch(CDialog *dlg, int id, QObject *parent)
        : QObject(parent)
        , dlg_(dlg)
        , id_(id)
    {}

protected:
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::FocusIn) {
            dlg_->OnNotify(id_, Notify::SetFocus);
        }
        return false;
    }

private:
    CDialog *dlg_;
    int id_;
};

QString Caption(const char *c)
{
    return QString::fromUtf8(c ? c : "");
}

// Dialog units from the font: a quarter of the average character width, an eighth of the height.
struct DialogUnits
{
    int baseX;
    int baseY;
    int X(int du) const { return (du * baseX + 2) / 4; }
    int Y(int du) const { return (du * baseY + 4) / 8; }
};

DialogUnits UnitsFor(const QFont &font)
{
    QFontMetrics fm(font);
    int w = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(w / 26 + 1) / 2, fm.height()};
}

} // namespace

DialogWidget::DialogWidget(CDialog *o, QWidget *parent)
    : QDialog(parent)
    , owner(o)
{}

void DialogWidget::reject()
{
    owner->OnNotify(IDCANCEL, Notify::Clicked);
}

void DialogWidget::accept()
{
    owner->OnNotify(IDOK, Notify::Clicked);
}

} // namespace internal

using internal::DialogWidget;

CDialog::CDialog(const DialogTemplate &tmpl)
    : template_(tmpl)
{}
CDialog::~CDialog() = default;

namespace {

DialogWidget *DialogOf(const CWnd *w)
{
    return static_cast<DialogWidget *>(internal::WidgetOf(w));
}

QWidget *Control(const CWnd *w, int id)
{
    DialogWidget *d = DialogOf(w);
    if (!d) {
        return nullptr;
    }
    auto it = d->controls.find(id);
    return it == d->controls.end() ? nullptr : it->second;
}

QString Limited(DialogWidget *d, int id, const QString &t)
{
    auto it = d->editLimits.find(id);
    return it == d->editLimits.end() ? t : t.left(it->second);
}

} // namespace

bool CDialog::Create(CWnd *owner)
{
    bool ok = false;
    CallOnGui([&] {
        if (state_->widget) {
            ok = true;
            return;
        }
        auto *d = new DialogWidget(this, internal::WidgetOf(owner));
        Qt::WindowFlags flags = Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint;
        if (!(template_.style & kNoCloseBox)) {
            flags |= Qt::WindowCloseButtonHint;
        }
        d->setWindowFlags(flags);
        d->setWindowTitle(QString::fromUtf8(template_.caption ? template_.caption : ""));
        // A font near the one the templates were laid out for; the units follow it.
        QFont font = d->font();
        font.setPixelSize(11);
        d->setFont(font);
        const internal::DialogUnits du = internal::UnitsFor(font);
        d->setFixedSize(du.X(template_.cx), du.Y(template_.cy));

        QButtonGroup *group = nullptr;
        std::vector<QWidget *> behind;
        for (size_t i = 0; i < template_.controlCount; i++) {
            const ControlTemplate &c = template_.controls[i];
            if (c.flags & kGroup) {
                group = nullptr;
            }
            QWidget *w = nullptr;
            const int id = c.id;
            switch (c.kind) {
            case ControlKind::Static: {
                auto *l = new QLabel(internal::Caption(c.caption), d);
                l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                l->setWordWrap(true);
                w = l;
                break;
            }
            case ControlKind::Icon: {
                auto *l = new QLabel(d);
                l->setPixmap(d->style()
                                 ->standardIcon(QStyle::SP_MessageBoxInformation)
                                 .pixmap(du.X(c.cx), du.Y(c.cy)));
                w = l;
                break;
            }
            case ControlKind::GroupBox:
                w = new QGroupBox(internal::Caption(c.caption), d);
                behind.push_back(w);
                break;
            case ControlKind::Button:
            case ControlKind::DefaultButton: {
                auto *b = new QPushButton(internal::Caption(c.caption), d);
                b->setAutoDefault(false);
                b->setDefault(c.kind == ControlKind::DefaultButton);
                QObject::connect(b, &QPushButton::clicked, d,
                                 [this, id] { OnNotify(id, Notify::Clicked); });
                w = b;
                break;
            }
            case ControlKind::CheckBox: {
                auto *b = new QCheckBox(internal::Caption(c.caption), d);
                if (c.flags & kRightText) {
                    b->setLayoutDirection(Qt::RightToLeft);
                }
                QObject::connect(b, &QCheckBox::clicked, d,
                                 [this, id] { OnNotify(id, Notify::Clicked); });
                w = b;
                break;
            }
            case ControlKind::RadioButton: {
                auto *b = new QRadioButton(internal::Caption(c.caption), d);
                if (!group) {
                    group = new QButtonGroup(d);
                }
                group->addButton(b);
                QObject::connect(b, &QRadioButton::clicked, d,
                                 [this, id] { OnNotify(id, Notify::Clicked); });
                w = b;
                break;
            }
            case ControlKind::Edit: {
                auto *e = new QLineEdit(d);
                e->setReadOnly(c.flags & kReadOnly);
                if (c.flags & kNumber) {
                    e->setValidator(new QRegularExpressionValidator(
                        QRegularExpression(QStringLiteral("-?[0-9]*")), e));
                }
                QObject::connect(e, &QLineEdit::textEdited, d,
                                 [this, id] { OnNotify(id, Notify::Change); });
                e->installEventFilter(new internal::FocusWatch(this, id, e));
                if (c.caption) {
                    e->setText(internal::Caption(c.caption));
                }
                w = e;
                break;
            }
            case ControlKind::MultiLineEdit: {
                auto *e = new QPlainTextEdit(d);
                e->setReadOnly(c.flags & kReadOnly);
                e->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
                e->setTabChangesFocus(true);
                QObject::connect(e, &QPlainTextEdit::textChanged, d, [this, d, e, id] {
                    // The user's typing is held to the limit; texts set from code are cut there.
                    auto it = d->editLimits.find(id);
                    QString t = e->toPlainText();
                    if (it != d->editLimits.end() && t.size() > it->second) {
                        QSignalBlocker b(e);
                        e->setPlainText(t.left(it->second));
                        e->moveCursor(QTextCursor::End);
                    }
                    if (!e->signalsBlocked()) {
                        OnNotify(id, Notify::Change);
                    }
                });
                e->installEventFilter(new internal::FocusWatch(this, id, e));
                if (c.caption) {
                    e->setPlainText(internal::Caption(c.caption));
                }
                w = e;
                break;
            }
            case ControlKind::ProgressBar: {
                auto *p = new QProgressBar(d);
                p->setRange(0, 100);
                p->setValue(0);
                p->setTextVisible(false);
                w = p;
                break;
            }
            case ControlKind::Trackbar: {
                auto *s = new QSlider(Qt::Horizontal, d);
                s->setRange(0, 100);
                s->setTickPosition(QSlider::TicksBelow);
                s->setTickInterval(10);
                // Positions set from code block the signal, so only the user's moves arrive.
                QObject::connect(s, &QSlider::valueChanged, d,
                                 [this, id] { OnNotify(id, Notify::Scroll); });
                w = s;
                break;
            }
            }
            w->setGeometry(du.X(c.x), du.Y(c.y), du.X(c.cx), du.Y(c.cy));
            if (c.flags & kDisabled) {
                w->setEnabled(false);
            }
            if (c.flags & kHidden) {
                w->hide();
            }
            if (id != 0 && id != -1) {
                d->controls[id] = w;
            }
        }
        for (QWidget *w : behind) {
            w->lower();
        }
        state_->widget = d;
        OnInitDialog();
        ok = true;
    });
    return ok;
}

int CDialog::DoModal(CWnd *owner)
{
    if (!Create(owner)) {
        return -1;
    }
    int result = IDCANCEL;
    CallOnGui([&] {
        DialogWidget *d = DialogOf(this);
        d->modal = true;
        d->setWindowModality(Qt::ApplicationModal);
        result = d->exec();
        d->modal = false;
        d->setWindowModality(Qt::NonModal);
    });
    return result;
}

void CDialog::EndDialog(int result)
{
    PostToGui([this, result] {
        DialogWidget *d = DialogOf(this);
        if (!d) {
            return;
        }
        if (d->modal) {
            d->done(result);
        } else {
            d->hide();
        }
    });
}

void CDialog::MapNotify(int id, Notify code, std::function<void()> handler)
{
    notifies_[{id, code}] = std::move(handler);
}

bool CDialog::OnNotify(int id, Notify code)
{
    auto it = notifies_.find({id, code});
    if (it != notifies_.end()) {
        it->second();
        return true;
    }
    if (code == Notify::Clicked && id == IDOK) {
        OnOK();
        return true;
    }
    if (code == Notify::Clicked && id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}

bool CDialog::HasDlgItem(int id) const
{
    bool has = false;
    CallOnGui([&] { has = Control(this, id) != nullptr; });
    return has;
}

void CDialog::CheckDlgButton(int id, int checked)
{
    PostToGui([this, id, checked] {
        auto *b = qobject_cast<QAbstractButton *>(Control(this, id));
        if (!b) {
            return;
        }
        // An exclusive group refuses to uncheck its last button; "none checked" is allowed.
        QButtonGroup *g = b->group();
        bool exclusive = g && g->exclusive();
        if (exclusive && !checked) {
            g->setExclusive(false);
        }
        b->setChecked(checked != 0);
        if (exclusive && !checked) {
            g->setExclusive(true);
        }
    });
}

int CDialog::IsDlgButtonChecked(int id) const
{
    int checked = 0;
    CallOnGui([&] {
        auto *b = qobject_cast<QAbstractButton *>(Control(this, id));
        checked = b && b->isChecked() ? 1 : 0;
    });
    return checked;
}

void CDialog::SetDlgItemText(int id, const char *text)
{
    QString t = QString::fromUtf8(text ? text : "");
    PostToGui([this, id, t] {
        QWidget *w = Control(this, id);
        DialogWidget *d = DialogOf(this);
        if (auto *e = qobject_cast<QLineEdit *>(w)) {
            e->setText(Limited(d, id, t));
        } else if (auto *m = qobject_cast<QPlainTextEdit *>(w)) {
            // "\r\n" line ends of the system's texts are one break each.
            QString s = t;
            s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
            s.replace(QChar('\r'), QChar('\n'));
            QSignalBlocker b(m);
            m->setPlainText(Limited(d, id, s));
        } else if (auto *b = qobject_cast<QAbstractButton *>(w)) {
            b->setText(t);
        } else if (auto *gb = qobject_cast<QGroupBox *>(w)) {
            gb->setTitle(t);
        } else if (auto *l = qobject_cast<QLabel *>(w)) {
            l->setText(t);
        }
    });
}

std::string CDialog::GetDlgItemText(int id) const
{
    std::string out;
    CallOnGui([&] {
        QWidget *w = Control(this, id);
        QString t;
        if (auto *e = qobject_cast<QLineEdit *>(w)) {
            t = e->text();
        } else if (auto *m = qobject_cast<QPlainTextEdit *>(w)) {
            // Lines come back with the "\r\n" ends the system's code splits on.
            t = m->toPlainText();
            t.replace(QChar('\n'), QStringLiteral("\r\n"));
        } else if (auto *b = qobject_cast<QAbstractButton *>(w)) {
            t = b->text();
        } else if (auto *l = qobject_cast<QLabel *>(w)) {
            t = l->text();
        }
        out = t.toStdString();
    });
    return out;
}

int CDialog::GetDlgItemText(int id, char *buf, int cap) const
{
    if (!buf || cap <= 0) {
        return 0;
    }
    std::string t = GetDlgItemText(id);
    size_t n = std::min(t.size(), static_cast<size_t>(cap - 1));
    std::memcpy(buf, t.data(), n);
    buf[n] = 0;
    return static_cast<int>(n);
}

void CDialog::LimitText(int id, int maxChars)
{
    PostToGui([this, id, maxChars] {
        DialogWidget *d = DialogOf(this);
        if (!d) {
            return;
        }
        d->editLimits[id] = maxChars;
        if (auto *e = qobject_cast<QLineEdit *>(Control(this, id))) {
            e->setMaxLength(maxChars);
        }
    });
}

void CDialog::EnableDlgItem(int id, bool enable)
{
    PostToGui([this, id, enable] {
        if (QWidget *w = Control(this, id)) {
            w->setEnabled(enable);
        }
    });
}

void CDialog::ShowDlgItem(int id, bool show)
{
    PostToGui([this, id, show] {
        if (QWidget *w = Control(this, id)) {
            w->setVisible(show);
        }
    });
}

bool CDialog::IsDlgItemVisible(int id) const
{
    bool v = false;
    CallOnGui([&] {
        QWidget *w = Control(this, id);
        v = w && !w->isHidden();
    });
    return v;
}

bool CDialog::IsDlgItemEnabled(int id) const
{
    bool v = false;
    CallOnGui([&] {
        QWidget *w = Control(this, id);
        v = w && w->isEnabled();
    });
    return v;
}

void CDialog::GotoDlgCtrl(int id)
{
    PostToGui([this, id] {
        if (QWidget *w = Control(this, id)) {
            w->setFocus(Qt::OtherFocusReason);
        }
    });
}

void CDialog::SetRange(int id, int low, int high)
{
    PostToGui([this, id, low, high] {
        QWidget *w = Control(this, id);
        if (auto *p = qobject_cast<QProgressBar *>(w)) {
            p->setRange(low, high);
        } else if (auto *s = qobject_cast<QSlider *>(w)) {
            QSignalBlocker b(s);
            s->setRange(low, high);
        }
    });
}

void CDialog::SetPos(int id, int pos)
{
    PostToGui([this, id, pos] {
        QWidget *w = Control(this, id);
        if (auto *p = qobject_cast<QProgressBar *>(w)) {
            p->setValue(std::clamp(pos, p->minimum(), p->maximum()));
        } else if (auto *s = qobject_cast<QSlider *>(w)) {
            QSignalBlocker b(s);
            s->setValue(pos);
        }
    });
}

int CDialog::GetPos(int id) const
{
    int pos = 0;
    CallOnGui([&] {
        QWidget *w = Control(this, id);
        if (auto *p = qobject_cast<QProgressBar *>(w)) {
            pos = p->value();
        } else if (auto *s = qobject_cast<QSlider *>(w)) {
            pos = s->value();
        }
    });
    return pos;
}

void CDialog::ClickDlgButton(int id)
{
    PostToGui([this, id] {
        if (auto *b = qobject_cast<QAbstractButton *>(Control(this, id))) {
            b->click();
        }
    });
}

} // namespace lc::ui
