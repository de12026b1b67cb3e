#include "textfit.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QSet>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTimer>
#include <algorithm>
#include <optional>

#include "handle.h"
#include "widgets.h"

namespace ui::detail {
namespace {

QString withoutMnemonics(QString text) {
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text.at(i) == QLatin1Char('&') && i + 1 < text.size()) text.remove(i, 1);
    return text;
}

QString nameOf(const QWidget* w) {
    const QString title = w->window()->windowTitle();
    QString name = QString::fromLatin1(w->metaObject()->className());
    if (!w->objectName().isEmpty()) name += QLatin1Char(' ') + w->objectName();
    if (const HWND h = handleOf(w); h && h->id) name += QStringLiteral(" #%1").arg(h->id);
    return title.isEmpty() ? name : title + QStringLiteral(" / ") + name;
}

// Room that no text fills; more would overflow Qt's fixed-point layout.
constexpr int kUnbounded = 1 << 20;

// A text laid out with `flags` in a room `width` wide: wrapped text needs
// the height of its lines, a word longer than the width more width. Below
// the last line's ink nothing is drawn, so that is where the text ends.
QSize laidOut(const QFontMetrics& fm, int width, int flags, const QString& text) {
    QSize need = fm.boundingRect(QRect(0, 0, width, kUnbounded), flags, text).size();
    const int inkBelowBaseline = fm.boundingRect(withoutMnemonics(text)).bottom() + 1;
    need.rheight() -= fm.height() - fm.ascent() - std::max(0, inkBelowBaseline);
    return need;
}

void measureGroupBox(QGroupBox* g, std::vector<TextFit>& out) {
    if (g->title().isEmpty()) return;
    QStyleOptionGroupBox opt;
    opt.initFrom(g);
    opt.text = g->title();
    opt.lineWidth = 1;
    opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    opt.textAlignment = g->alignment();
    const QRect label =
        g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g);
    // The style gives the title its line; it has the width from where it
    // starts to the frame's end.
    const QSize need(g->fontMetrics().size(Qt::TextShowMnemonic, g->title()).width(),
                     label.height());
    out.push_back({nameOf(g), withoutMnemonics(g->title()), need,
                   QSize(g->width() - label.left(), g->height() - std::max(0, label.top()))});
}

void measureHeader(QHeaderView* h, std::vector<TextFit>& out) {
    const int margin = h->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, h);
    for (int i = 0; i < h->count(); ++i) {
        if (h->isSectionHidden(i)) continue;
        const QString text = h->model()->headerData(i, h->orientation()).toString();
        if (text.isEmpty()) continue;
        const QSize need = h->fontMetrics().size(0, text) + QSize(2 * margin, 0);
        out.push_back({nameOf(h) + QStringLiteral(" section %1").arg(i), text, need,
                       QSize(h->sectionSize(i), h->height())});
    }
}

void measureMenu(QMenu* menu, std::vector<TextFit>& out) {
    for (QAction* a : menu->actions()) {
        if (a->isSeparator() || !a->isVisible()) continue;
        const QString text = a->text().section(QLatin1Char('\t'), 0, 0);
        const QSize need = menu->fontMetrics().size(Qt::TextShowMnemonic, text);
        out.push_back({nameOf(menu), withoutMnemonics(text), need, menu->actionGeometry(a).size()});
    }
}

// A label of Qt's own (a message box's text) needs what it tells its layout.
void measureLabel(QLabel* l, std::vector<TextFit>& out) {
    if (l->text().isEmpty() || !l->pixmap().isNull()) return;
    const QSize need = l->wordWrap()
                           ? QSize(l->minimumSizeHint().width(), l->heightForWidth(l->width()))
                           : l->sizeHint();
    out.push_back({nameOf(l), l->text(), need, l->size()});
}

void measureWidget(QWidget* w, std::vector<TextFit>& out) {
    if (std::optional<TextFit> fit = measureControl(w)) {
        out.push_back(*fit);
    } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
        measureGroupBox(g, out);
    } else if (auto* h = qobject_cast<QHeaderView*>(w)) {
        measureHeader(h, out);
    } else if (auto* m = qobject_cast<QMenu*>(w)) {
        measureMenu(m, out);
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        measureLabel(l, out);
    }
}

// A widget drawn partly outside its window is cut off by the window's edge.
void measurePlace(QWidget* w, QWidget* window, std::vector<TextFit>& out) {
    const QRect inWindow(w->mapTo(window, QPoint(0, 0)), w->size());
    if (window->rect().contains(inWindow)) return;
    const QRect over = inWindow.united(window->rect());
    out.push_back(
        {nameOf(w) + QStringLiteral(" in its window"), QString(), over.size(), window->size()});
}

// Where a control may reach without covering another control, crossing the
// frame of the group box it stands in or leaving its parent.
struct Reach {
    int left, right, bottom;
};

bool countsAsObstacle(const QWidget* w) {
    const HWND h = handleOf(w);
    // A control never shown (a template for others) takes no room; one
    // hidden for now may be shown again.
    return h && !w->isWindow() && ((h->style & WS_VISIBLE) || w->isVisible());
}

Reach reachOf(const QWidget* w) {
    constexpr int kGap = 2;  // kept free between neighbours
    const QWidget* parent = w->parentWidget();
    const QRect r = w->geometry();
    QRect bounds = parent->rect();
    std::vector<QRect> others;
    for (QObject* o : parent->children()) {
        auto* s = qobject_cast<QWidget*>(o);
        if (!s || s == w || !countsAsObstacle(s)) continue;
        if (qobject_cast<QGroupBox*>(s) && s->geometry().contains(r)) {
            bounds &= s->geometry().adjusted(kGap + 1, 0, -kGap - 1, -kGap - 1);
            continue;
        }
        others.push_back(s->geometry());
    }
    Reach reach{bounds.left(), bounds.right(), bounds.bottom()};
    for (const QRect& o : others) {
        if (o.top() > r.bottom() || o.bottom() < r.top()) continue;  // other lines
        if (o.left() > r.right()) reach.right = std::min(reach.right, o.left() - 1 - kGap);
        if (o.right() < r.left()) reach.left = std::max(reach.left, o.right() + 1 + kGap);
    }
    for (const QRect& o : others)
        if (o.top() > r.bottom() && o.left() <= reach.right && o.right() >= reach.left)
            reach.bottom = std::min(reach.bottom, o.top() - 1 - kGap);
    return reach;
}

}  // namespace

QRect buttonTextRoom(QAbstractButton* b) {
    QStyleOptionButton opt;
    opt.initFrom(b);
    opt.text = b->text();
    const bool check = qobject_cast<QCheckBox*>(b) != nullptr;
    return b->style()->subElementRect(
        check ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents, &opt, b);
}

bool checkTextWraps(QCheckBox* box) {
    return laidOut(box->fontMetrics(), kUnbounded, Qt::TextShowMnemonic, box->text()).width() >
           buttonTextRoom(box).width();
}

std::optional<TextFit> measureControl(QWidget* w) {
    if (StaticText drawn; staticText(w, &drawn)) {
        if (drawn.text.isEmpty()) return std::nullopt;
        const QSize need = laidOut(w->fontMetrics(), w->width(), drawn.flags, drawn.text);
        return TextFit{nameOf(w), withoutMnemonics(drawn.text), need, w->size()};
    }
    auto* b = qobject_cast<QAbstractButton*>(w);
    if (!b || b->text().isEmpty()) return std::nullopt;
    const QRect room = buttonTextRoom(b);
    auto* check = qobject_cast<QCheckBox*>(b);
    const QSize need = check && checkTextWraps(check)
                           ? laidOut(b->fontMetrics(), room.width(), kWrappedCheckText, b->text())
                           : laidOut(b->fontMetrics(), kUnbounded, Qt::TextShowMnemonic, b->text());
    return TextFit{nameOf(b), withoutMnemonics(b->text()), need, room.size()};
}

void fitControl(QWidget* w) {
    const std::optional<TextFit> fit = w ? measureControl(w) : std::nullopt;
    if (!fit || fit->fits() || !w->parentWidget()) return;
    QRect r = w->geometry();
    const Reach reach = reachOf(w);
    StaticText drawn;
    const bool isStatic = staticText(w, &drawn);
    // A text grows wider first, to its length on one line.
    auto* check = qobject_cast<QCheckBox*>(w);
    const int wanted =
        isStatic
            ? laidOut(w->fontMetrics(), kUnbounded, drawn.flags, drawn.text).width() - r.width()
        : check
            ? laidOut(w->fontMetrics(), kUnbounded, Qt::TextShowMnemonic, check->text()).width() -
                  fit->room.width()
            : fit->need.width() - fit->room.width();
    const bool centred =
        isStatic ? (drawn.flags & Qt::AlignHCenter) != 0 : qobject_cast<QCheckBox*>(w) == nullptr;
    if (wanted > 0 && centred) {
        const int side =
            std::min({(wanted + 1) / 2, r.left() - reach.left, reach.right - r.right()});
        if (side > 0) r.adjust(-side, 0, side, 0);
    } else if (wanted > 0) {
        r.setRight(std::min(r.right() + wanted, std::max(r.right(), reach.right)));
    }
    // A static text then wraps in that width and grows downwards.
    if (isStatic || check) {
        const int height =
            isStatic ? laidOut(w->fontMetrics(), r.width(), drawn.flags, drawn.text).height()
                     : laidOut(w->fontMetrics(), fit->room.width() + r.width() - w->width(),
                               kWrappedCheckText, check->text())
                           .height();
        if (height > r.height())
            r.setBottom(std::min(r.top() + height - 1, std::max(r.bottom(), reach.bottom)));
    }
    w->setGeometry(r);
}

void fitLater(QWidget* w) {
    QTimer::singleShot(0, w, [w] { fitControl(w); });
}

void fitControls(QWidget* parent) {
    for (QObject* o : parent->children())
        if (auto* w = qobject_cast<QWidget*>(o); w && handleOf(w)) fitControl(w);
}

std::vector<TextFit> measureTexts(QWidget* window) {
    std::vector<TextFit> out;
    if (!window || !window->isVisible()) return out;
    if (QScreen* screen = window->screen()) {
        const QRect frame = window->frameGeometry();
        if (!screen->geometry().contains(frame))
            out.push_back({nameOf(window) + QStringLiteral(" on its screen"), QString(),
                           frame.united(screen->geometry()).size(), screen->size()});
    }
    measureWidget(window, out);
    for (QWidget* w : window->findChildren<QWidget*>()) {
        // A dialog owned by this window is a window of its own.
        if (w->window() != window || !w->isVisibleTo(window)) continue;
        measureWidget(w, out);
        // Inner parts of a control (a list's viewport) are the control's business.
        if (w->parentWidget() == window || handleOf(w)) measurePlace(w, window, out);
    }
    return out;
}

QStringList unfitTexts(QWidget* window) {
    QStringList lines;
    for (const TextFit& f : measureTexts(window))
        if (!f.fits())
            lines << QStringLiteral("%1: '%2' needs %3x%4, has %5x%6")
                         .arg(f.where, f.text)
                         .arg(f.need.width())
                         .arg(f.need.height())
                         .arg(f.room.width())
                         .arg(f.room.height());
    return lines;
}

namespace {

class FitWatcher : public QObject {
public:
    explicit FitWatcher(QString path) : m_path(std::move(path)) {}

    // Measured once the events of the show (layout, polish) have run.
    void schedule(QWidget* window) {
        if (!window || m_pending.contains(window)) return;
        m_pending.append(window);
        QTimer::singleShot(0, this, [this] { flush(); });
    }

protected:
    // Whatever is painted may have a new text or size.
    bool eventFilter(QObject* obj, QEvent* e) override {
        if (e->type() == QEvent::Show || e->type() == QEvent::Paint)
            if (auto* w = qobject_cast<QWidget*>(obj)) schedule(w->window());
        return false;
    }

private:
    void flush() {
        const auto pending = std::exchange(m_pending, {});
        QFile file(m_path);
        if (!file.open(QIODevice::Append | QIODevice::Text)) return;
        for (const QPointer<QWidget>& w : pending) {
            if (!w) continue;
            for (const QString& line : unfitTexts(w)) {
                if (m_logged.contains(line)) continue;
                m_logged.insert(line);
                file.write((line + QLatin1Char('\n')).toUtf8());
            }
        }
    }

    QString m_path;
    QSet<QString> m_logged;
    QList<QPointer<QWidget>> m_pending;
};

FitWatcher* g_watcher = nullptr;

}  // namespace

void watchTextFit() {
    static bool s_started = false;
    if (std::exchange(s_started, true) || !qApp) return;
    const QString path = qEnvironmentVariable("UI_TEXT_FIT_LOG");
    if (path.isEmpty()) return;
    g_watcher = new FitWatcher(path);
    g_watcher->setParent(qApp);
    qApp->installEventFilter(g_watcher);
}

}  // namespace ui::detail
