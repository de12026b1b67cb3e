// What a window's texts need against the room they are drawn in: every
// static text, button, check box, group box title, list header section,
// message box text and menu entry, measured in its own font.
#pragma once

#include <QAbstractButton>
#include <QCheckBox>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>
#include <optional>
#include <vector>

namespace ui::detail {

struct TextFit {
    QString where;  // the window's title, then the widget's class and name
    QString text;   // as drawn (mnemonic markers removed)
    QSize need;
    QSize room;
    // False where the text is clipped, or the widget reaches outside its
    // window or the window outside its screen.
    bool fits() const { return need.width() <= room.width() && need.height() <= room.height(); }
};

// What a static text, button or check box needs against the room it has;
// nothing for other widgets and empty texts. A check box's text too long
// for one line in its room is drawn wrapped there.
std::optional<TextFit> measureControl(QWidget* widget);

// The room a button's or check box's text has, as the style lays it out.
QRect buttonTextRoom(QAbstractButton* button);
// Whether a check box's text is drawn on more than one line.
bool checkTextWraps(QCheckBox* box);
// How a check box's text is drawn when it wraps.
constexpr int kWrappedCheckText =
    Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap | Qt::TextShowMnemonic;

// A control whose text needs more room takes it from the free space beside
// it: a text to the right (a centred one and a push button's on both sides),
// a static text or a check box's then downwards, wrapped; never over another control, past
// the frame of its group box or out of its parent. What is still short of
// room shows in measureTexts.
void fitControl(QWidget* widget);
// The same once the events queued now have run: a control made at run time
// may get its neighbours and its font only after it is made.
void fitLater(QWidget* widget);
// fitControl for each control on `parent`, in creation order.
void fitControls(QWidget* parent);

// Every shown text of `window` (a top-level widget or pop-up menu), and the
// window itself against its screen.
std::vector<TextFit> measureTexts(QWidget* window);

// Those that do not fit, one line each ("where: 'text' needs WxH, has WxH").
QStringList unfitTexts(QWidget* window);

// With UI_TEXT_FIT_LOG naming a file, every window is measured once it is
// shown and after its texts change, and what does not fit is appended there.
void watchTextFit();

}  // namespace ui::detail
