// Edit boxes, buttons and static texts, and the creation of every control.
#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QValidator>
#include <climits>

#include "cp936.h"
#include "dispatch.h"
#include "handle.h"
#include "icons.h"
#include "textfit.h"
#include "widgets.h"

namespace ui::detail {
namespace {

// Typed text must survive the trip to CP936, so refuse what it cannot hold;
// the edit's limit counts CP936 bytes, as every length rule does.
class Cp936Validator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        if (!encodableInCp936(input)) return Invalid;
        return m_limitBytes > 0 && cp936Length(input) > m_limitBytes ? Invalid : Acceptable;
    }
    void setLimitBytes(int limit) { m_limitBytes = limit; }

private:
    int m_limitBytes = 0;  // 0: no limit
};

// A check box takes a click anywhere in its rectangle, as the platform's do,
// not only on its box and text (which end short of it with wider fonts).
class CheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
    // A text too long for one line wraps in the room beside the box, as the
    // platform's multi-line check boxes do, instead of being cut off.
    void paintEvent(QPaintEvent* event) override {
        if (!checkTextWraps(this)) {
            QCheckBox::paintEvent(event);
            return;
        }
        const QRect room = buttonTextRoom(this);
        QStylePainter painter(this);
        QStyleOptionButton opt;
        initStyleOption(&opt);
        opt.text.clear();
        painter.drawControl(QStyle::CE_CheckBox, opt);
        style()->drawItemText(&painter, room, kWrappedCheckText, palette(), isEnabled(), text(),
                              QPalette::WindowText);
    }
};

// A QLabel only so that screen readers learn which field it labels (Qt
// relates fields to QLabel buddies alone); it paints its own text.
class StaticWidget : public QLabel {
public:
    StaticWidget(HWND self, DWORD style, QString text, QWidget* parent)
        : QLabel(parent), m_self(self), m_style(style), m_text(std::move(text)) {}

    QString text() const { return m_text; }
    void setText(const QString& text) {
        m_text = text;
        update();
        if (m_buddy) m_buddy->setAccessibleName(shownText());
        if (QAccessible::isActive()) {
            QAccessibleEvent event(this, QAccessible::NameChanged);
            QAccessible::updateAccessibility(&event);
        }
    }
    // The text as drawn: '&' marks a mnemonic unless SS_NOPREFIX.
    QString shownText() const {
        if ((m_style & SS_NOPREFIX) || !m_text.contains(QLatin1Char('&'))) return m_text;
        QString shown;
        for (qsizetype i = 0; i < m_text.size(); ++i) {
            if (m_text.at(i) == QLatin1Char('&') && i + 1 < m_text.size()) ++i;
            shown += m_text.at(i);
        }
        return shown;
    }
    bool isIcon() const { return (m_style & SS_TYPEMASK) == SS_ICON || m_icon; }
    void setIcon(HICON icon) {
        m_icon = icon;
        update();
    }
    // The field this text names for screen readers, as a buddy label does.
    void setBuddy(QWidget* buddy) {
        m_buddy = buddy;
        QLabel::setBuddy(buddy);
        buddy->setProperty("ui_labelled", true);
        buddy->setAccessibleName(shownText());
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        if ((m_style & SS_TYPEMASK) == SS_ICON) {
            if (m_icon)
                qiconOf(m_icon).paint(&painter, 0, 0, GetSystemMetrics(SM_CXICON),
                                      GetSystemMetrics(SM_CYICON));
            return;
        }
        // The parent may colour the text and give a brush for the background
        // (WM_CTLCOLORSTATIC); no brush or the hollow one leaves it as it is.
        CDC dc;
        HBRUSH brush = nullptr;
        if (CWnd* parent = wndOf(m_self->parent))
            brush = reinterpret_cast<HBRUSH>(
                dispatch(parent, WM_CTLCOLORSTATIC, WPARAM(&dc), LPARAM(m_self)));
        if (QColor fill; brushFill(brush, &fill)) painter.fillRect(rect(), fill);
        QColor color = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                       QPalette::WindowText);
        if (dc.HasTextColor())
            color = QColor(GetRValue(dc.GetTextColor()), GetGValue(dc.GetTextColor()),
                           GetBValue(dc.GetTextColor()));
        painter.setPen(color);
        const StaticText drawn = drawing();
        painter.drawText(rect(), drawn.flags, drawn.text);
    }

public:
    // The text as handed to the painter, with its flags.
    StaticText drawing() const {
        int flags = Qt::AlignTop | Qt::TextWordWrap | Qt::TextShowMnemonic;
        flags |= (m_style & SS_TYPEMASK) == SS_CENTER ? Qt::AlignHCenter : Qt::AlignLeft;
        QString shown = m_text;
        if (m_style & SS_NOPREFIX) shown.replace(QLatin1Char('&'), QLatin1String("&&"));
        return {shown, flags};
    }

private:
    HWND m_self;
    DWORD m_style;
    QString m_text;
    HICON m_icon = nullptr;
    QPointer<QWidget> m_buddy;
};

// A static text reads as a label to screen readers (and to the end-to-end
// tests), its name following the text; an icon reads as an image, named by
// its text or else, as the program's icon, by the program.
class StaticAccessible : public QAccessibleWidget {
public:
    explicit StaticAccessible(StaticWidget* w)
        : QAccessibleWidget(w, w->isIcon() ? QAccessible::Graphic : QAccessible::StaticText) {}
    QString text(QAccessible::Text t) const override {
        auto* w = static_cast<StaticWidget*>(widget());
        if (t != QAccessible::Name) return QAccessibleWidget::text(t);
        if (w->isIcon() && w->shownText().isEmpty())
            return QGuiApplication::applicationDisplayName();
        return w->shownText();
    }
};

QAccessibleInterface* staticAccessibleFactory(const QString&, QObject* object) {
    auto* w = dynamic_cast<StaticWidget*>(object);
    return w ? new StaticAccessible(w) : nullptr;
}

std::unique_ptr<CWnd> makeTemporary(ControlKind kind) {
    switch (kind) {
        case ControlKind::Button:
            return std::make_unique<CButton>();
        case ControlKind::Edit:
            return std::make_unique<CEdit>();
        case ControlKind::ComboBox:
            return std::make_unique<CComboBox>();
        case ControlKind::ListView:
            return std::make_unique<CListCtrl>();
        default:
            return std::make_unique<CStatic>();
    }
}

QLineEdit* editOf(const CWnd* wnd) {
    return qobject_cast<QLineEdit*>(widgetOf(wnd));
}
QCheckBox* checkOf(const CWnd* wnd) {
    return qobject_cast<QCheckBox*>(widgetOf(wnd));
}

}  // namespace

QWidget* createEditWidget(HWND self, DWORD style, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setValidator(new Cp936Validator(edit));
    edit->setFrame((style & WS_BORDER) != 0);
    if (style & ES_PASSWORD) edit->setEchoMode(QLineEdit::Password);
    QObject::connect(edit, &QLineEdit::textEdited, edit, [self] {
        if (CWnd* wnd = wndOf(self)) notifyCommand(wnd, EN_CHANGE);
    });
    return edit;
}

QWidget* createButtonWidget(HWND self, DWORD style, const QString& text, QWidget* parent) {
    QAbstractButton* button = nullptr;
    switch (style & BS_TYPEMASK) {
        case BS_GROUPBOX: {
            auto* group = new QGroupBox(text, parent);
            // A frame drawn behind its neighbours, never in their way, with
            // its title on the frame line.
            group->setAttribute(Qt::WA_TransparentForMouseEvents);
            group->setStyleSheet(QStringLiteral(
                "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: "
                "0.5em; }"
                "QGroupBox::title { subcontrol-origin: margin; left: 6px; padding: 0 2px; }"));
            return group;
        }
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
            button = new CheckBox(text, parent);
            // Dialog-unit sizes leave room for a small gap only.
            button->setStyleSheet(QStringLiteral("QCheckBox { spacing: 3px; }"));
            break;
        default: {
            auto* push = new QPushButton(text, parent);
            push->setAutoDefault(false);
            push->setDefault((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON);
            button = push;
            break;
        }
    }
    QObject::connect(button, &QAbstractButton::clicked, button, [self] {
        if (CWnd* wnd = wndOf(self)) notifyCommand(wnd, BN_CLICKED);
    });
    return button;
}

QWidget* createStaticWidget(HWND self, DWORD style, const QString& text, QWidget* parent) {
    static const bool s_factory = (QAccessible::installFactory(staticAccessibleFactory), true);
    (void)s_factory;
    return new StaticWidget(self, style, text, parent);
}

HWND createControl(CWnd* self, ControlKind kind, const char* text, DWORD style, const RECT& rect,
                   CWnd* parent, int id) {
    HWND parentHandle = parent ? parent->m_hWnd : nullptr;
    if (parent && !widgetOf(parentHandle)) return nullptr;
    if (self && widgetOf(self)) return nullptr;  // already a window
    HWND h = createHandle(nullptr, self, id, style, kind);
    if (!self) {
        h->temporary = makeTemporary(kind);
        h->temporary->m_hWnd = h;
    }
    h->parent = parentHandle;
    if (parentHandle) parentHandle->children.push_back(h);
    QWidget* host = parentHandle ? childHost(parentHandle) : nullptr;
    const QString caption = decodeCp936(text ? text : "");

    QWidget* w = nullptr;
    switch (kind) {
        case ControlKind::Button:
            w = createButtonWidget(h, style, caption, host);
            break;
        case ControlKind::Edit:
            w = createEditWidget(h, style, host);
            break;
        case ControlKind::ComboBox:
            w = createComboWidget(h, style, host);
            break;
        case ControlKind::ListView:
            w = createListWidget(h, style, host);
            break;
        case ControlKind::Icon:
        case ControlKind::Static:
            w = createStaticWidget(h, style, caption, host);
            break;
    }
    setWidget(h, w);
    if (kind == ControlKind::Edit && !caption.isEmpty()) setWidgetText(h, caption);

    int height = rect.bottom - rect.top;
    // A drop-down's rectangle includes its list; the box itself is one line.
    if (kind == ControlKind::ComboBox) height = std::min(height, w->sizeHint().height());
    w->setGeometry(rect.left, rect.top, rect.right - rect.left, height);
    w->setEnabled(!(style & WS_DISABLED));

    const bool focusable = kind == ControlKind::Edit || kind == ControlKind::ComboBox ||
                           kind == ControlKind::ListView ||
                           (kind == ControlKind::Button && (style & BS_TYPEMASK) != BS_GROUPBOX);
    if (!focusable)
        w->setFocusPolicy(Qt::NoFocus);
    else
        w->setFocusPolicy((style & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus);
    if (kind == ControlKind::Button && (style & BS_TYPEMASK) == BS_GROUPBOX) w->lower();
    w->setVisible((style & WS_VISIBLE) != 0);
    // Made by the program at run time, among neighbours that may still come.
    if (self) fitLater(w);
    return h;
}

QString widgetText(HWND h) {
    QWidget* w = widgetOf(h);
    if (!w) return QString();
    if (h->isDialog || w->isWindow()) return w->windowTitle();
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText();
    if (auto* s = dynamic_cast<StaticWidget*>(w)) return s->text();
    return QString();
}

void setWidgetText(HWND h, const QString& text) {
    QWidget* w = widgetOf(h);
    if (!w) return;
    if (h->isDialog || w->isWindow())
        w->setWindowTitle(text);
    else if (auto* e = qobject_cast<QLineEdit*>(w))
        e->setText(text);
    else if (auto* b = qobject_cast<QAbstractButton*>(w))
        b->setText(text);
    else if (auto* g = qobject_cast<QGroupBox*>(w))
        g->setTitle(text);
    else if (auto* s = dynamic_cast<StaticWidget*>(w))
        s->setText(text);
    fitControl(w);
}

void labelFields(HWND dialog) {
    const auto textOf = [](HWND h) -> StaticWidget* {
        if (h->kind != ControlKind::Static || (h->style & SS_TYPEMASK) == SS_ICON) return nullptr;
        return dynamic_cast<StaticWidget*>(widgetOf(h));
    };
    const std::vector<HWND>& children = dialog->children;
    for (size_t i = 0; i < children.size(); ++i) {
        const HWND field = children[i];
        QWidget* w = widgetOf(field);
        if (!w || (field->kind != ControlKind::Edit && field->kind != ControlKind::ComboBox &&
                   field->kind != ControlKind::ListView))
            continue;
        // The text right before the field in tab order names it; templates
        // that list their texts elsewhere get the text drawn on the field's
        // line to its left, which is what a reader of the screen would take.
        StaticWidget* label = i > 0 ? textOf(children[i - 1]) : nullptr;
        const QRect f = w->geometry();
        if (!label) {
            for (const HWND other : children) {
                StaticWidget* s = textOf(other);
                if (!s) continue;
                const QRect r = s->geometry();
                const bool onLine = r.center().y() >= f.top() && r.center().y() <= f.bottom();
                if (onLine && r.right() < f.left() &&
                    (!label || r.right() > label->geometry().right()))
                    label = s;
            }
        }
        if (label) label->setBuddy(w);
    }
}

bool staticText(const QWidget* w, StaticText* drawn) {
    const auto* s = dynamic_cast<const StaticWidget*>(w);
    if (!s || s->isIcon()) return false;
    *drawn = s->drawing();
    return true;
}

void setStaticIcon(HWND h, HICON icon) {
    if (auto* s = dynamic_cast<StaticWidget*>(widgetOf(h))) s->setIcon(icon);
}

}  // namespace ui::detail

using namespace ui::detail;

// ---- CButton ---------------------------------------------------------------------
BOOL CButton::Create(LPCTSTR lpszCaption, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd,
                     UINT nID) {
    return createControl(this, ui::ControlKind::Button, lpszCaption, dwStyle, rect, pParentWnd,
                         int(nID)) != nullptr;
}

int CButton::GetCheck() const {
    QCheckBox* box = checkOf(this);
    return box && box->isChecked() ? BST_CHECKED : BST_UNCHECKED;
}

void CButton::SetCheck(int nCheck) {
    if (QCheckBox* box = checkOf(this)) box->setChecked(nCheck == BST_CHECKED);
}

UINT CButton::GetButtonStyle() const {
    return m_hWnd ? (m_hWnd->style & BS_TYPEMASK) : 0;
}

// ---- CStatic ---------------------------------------------------------------------
BOOL CStatic::Create(LPCTSTR lpszText, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd,
                     UINT nID) {
    return createControl(this, ui::ControlKind::Static, lpszText, dwStyle, rect, pParentWnd,
                         int(nID)) != nullptr;
}

// ---- CEdit -----------------------------------------------------------------------
BOOL CEdit::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    return createControl(this, ui::ControlKind::Edit, "", dwStyle, rect, pParentWnd, int(nID)) !=
           nullptr;
}

void CEdit::SetSel(int nStartChar, int nEndChar, BOOL bNoScroll) {
    QLineEdit* e = editOf(this);
    if (!e) return;
    const QString text = e->text();
    const int start = nStartChar < 0 ? int(text.size()) : charIndexForByte(text, nStartChar);
    const int end = nEndChar < 0 ? int(text.size()) : charIndexForByte(text, nEndChar);
    if (start == end) {
        e->deselect();
        e->setCursorPosition(start);
        return;
    }
    // The caret ends at the far end of the selection, scrolled into view.
    (void)bNoScroll;
    e->setSelection(start, end - start);
}

void CEdit::GetSel(int& nStartChar, int& nEndChar) const {
    QLineEdit* e = editOf(this);
    nStartChar = nEndChar = 0;
    if (!e) return;
    const QString text = e->text();
    if (!e->hasSelectedText()) {
        nStartChar = nEndChar = byteIndexForChar(text, e->cursorPosition());
        return;
    }
    nStartChar = byteIndexForChar(text, e->selectionStart());
    nEndChar = byteIndexForChar(text, e->selectionEnd());
}

void CEdit::SetLimitText(UINT nMax) {
    QLineEdit* e = editOf(this);
    if (!e) return;
    // Every edit gets its validator when it is made (createEditWidget).
    auto* validator = static_cast<Cp936Validator*>(
        e->findChild<QValidator*>(QString(), Qt::FindDirectChildrenOnly));
    if (validator) validator->setLimitBytes(nMax > UINT(INT_MAX) ? 0 : int(nMax));
}

IMPLEMENT_DYNAMIC(CButton, CWnd)
IMPLEMENT_DYNAMIC(CStatic, CWnd)
IMPLEMENT_DYNAMIC(CEdit, CWnd)
