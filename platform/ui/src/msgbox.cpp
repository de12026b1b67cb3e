// Message boxes: one replaceable presenter in front of a real QMessageBox.
#include <QAbstractButton>
#include <QFontMetrics>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <utility>

#include "cp936.h"
#include "handle.h"
#include "language.h"
#include "modal.h"

namespace ui {
namespace {
MessageBoxPresenter& installedPresenter() {
    static MessageBoxPresenter s_presenter;
    return s_presenter;
}
}  // namespace

MessageBoxPresenter SetMessageBoxPresenter(MessageBoxPresenter presenter) {
    return std::exchange(installedPresenter(), std::move(presenter));
}

}  // namespace ui

namespace ui::detail {
namespace {

QMessageBox::Icon iconOf(UINT type) {
    switch (type & MB_ICONMASK) {
        case MB_ICONERROR:
            return QMessageBox::Critical;
        case MB_ICONQUESTION:
            return QMessageBox::Question;
        case MB_ICONWARNING:
            return QMessageBox::Warning;
        case MB_ICONINFORMATION:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

// What the icon says, for screen readers.
QString iconName(QMessageBox::Icon icon) {
    switch (icon) {
        case QMessageBox::Critical:
            return QStringLiteral("错误");
        case QMessageBox::Question:
            return QStringLiteral("询问");
        case QMessageBox::Warning:
            return QStringLiteral("警告");
        case QMessageBox::Information:
            return QStringLiteral("信息");
        default:
            return QString();
    }
}

QMessageBox::StandardButtons buttonsOf(UINT type) {
    switch (type & MB_TYPEMASK) {
        case MB_OKCANCEL:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case MB_YESNO:
            return QMessageBox::Yes | QMessageBox::No;
        case MB_YESNOCANCEL:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        default:
            return QMessageBox::Ok;
    }
}

// The answer of a box closed without a button: what its escape would give.
int closedAnswer(UINT type) {
    switch (type & MB_TYPEMASK) {
        case MB_OKCANCEL:
        case MB_YESNOCANCEL:
            return IDCANCEL;
        case MB_YESNO:
            return IDNO;
        default:
            return IDOK;
    }
}

// Qt sizes a box to its text when it shows, wrapping a text too long for
// a reasonable width; the box then takes the width its caption needs beside
// the title bar's icon and buttons, as the platform's boxes do, if that is
// more. Nothing is cut: the text's height follows the final width.
class MessageBoxWidget : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* e) override {
        QMessageBox::showEvent(e);
        const QFontMetrics fm = fontMetrics();
        const int captionNeed = fm.horizontalAdvance(windowTitle()) + 4 * fm.height();
        if (width() >= captionNeed || !layout()) return;
        const int grown = captionNeed - width();
        layout()->activate();
        const int height = layout()->hasHeightForWidth()
                               ? layout()->totalHeightForWidth(captionNeed)
                               : this->height();
        setFixedSize(captionNeed, height);
        move(x() - grown / 2, y());  // still centred where Qt put it
    }
};

}  // namespace

int presentMessageBox(const MessageBoxRequest& request) {
    // What the operator reads, in the operator's language.
    MessageBoxRequest shown = request;
    shown.text = translate(request.text.c_str());
    shown.caption = translate(request.caption.c_str());
    // A copy, so that a presenter may replace itself while it answers.
    const MessageBoxPresenter presenter = installedPresenter();
    return presenter ? presenter(shown) : showMessageBox(shown);
}

int showMessageBox(const MessageBoxRequest& request) {
    QWidget* owner = widgetOf(request.owner);
    const UINT type = request.type;
    MessageBoxWidget box(iconOf(type), decodeCp936(request.caption), decodeCp936(request.text),
                         buttonsOf(type), owner ? owner->window() : nullptr);
    // The text is the program's, never markup.
    box.setTextFormat(Qt::PlainText);
    // Labelled as the platform's own boxes are on a Chinese desktop.
    const std::pair<QMessageBox::StandardButton, QString> labels[] = {
        {QMessageBox::Ok, QStringLiteral("确定")},
        {QMessageBox::Cancel, QStringLiteral("取消")},
        {QMessageBox::Yes, QStringLiteral("是(&Y)")},
        {QMessageBox::No, QStringLiteral("否(&N)")},
    };
    for (const auto& [button, label] : labels)
        if (QAbstractButton* shown = box.button(button)) shown->setText(translate(label));
    if (auto* icon = box.findChild<QLabel*>(QStringLiteral("qt_msgboxex_icon_label")))
        icon->setAccessibleName(translate(iconName(box.icon())));
    box.setDefaultButton((type & MB_TYPEMASK) == MB_YESNO || (type & MB_TYPEMASK) == MB_YESNOCANCEL
                             ? QMessageBox::Yes
                             : QMessageBox::Ok);
    const HWND ownerHandle = request.owner;
    QTimer::singleShot(0, &box,
                       [ownerHandle] { runModalHook(ModalKind::MessageBox, wndOf(ownerHandle)); });
    box.exec();
    runModalEndHook(ModalKind::MessageBox, wndOf(ownerHandle));
    switch (box.standardButton(box.clickedButton())) {
        case QMessageBox::Ok:
            return IDOK;
        case QMessageBox::Cancel:
            return IDCANCEL;
        case QMessageBox::Yes:
            return IDYES;
        case QMessageBox::No:
            return IDNO;
        default:
            return closedAnswer(type);
    }
}

}  // namespace ui::detail
