// Shared by the framework's widget tests: a top-level window that controls
// can be children of, and a watchdog so a modal loop can never hang a test.
#pragma once

#include <QApplication>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include "handle.h"
#include "ui/testing.h"

namespace uitest {

// A plain top-level window with a handle. Derived classes add message maps
// and record what reaches them in `trace`.
class HostWindow : public CWnd {
public:
    explicit HostWindow(int width = 420, int height = 320) {
        // Deleted through DestroyWindow, as any window of the framework.
        auto* widget = new QWidget;
        widget->resize(width, height);
        ui::detail::createHandle(widget, this, 0, WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                 ui::ControlKind::Static);
    }
    ~HostWindow() override { DestroyWindow(); }

    QWidget* widget() const { return ui::detail::widgetOf(this); }
    QWindow* window() const { return widget()->windowHandle(); }

    bool showAndWait() {
        widget()->show();
        return QTest::qWaitForWindowExposed(widget());
    }

    QStringList trace;
};

// Closes whatever pop-up or modal window is still open after the timeout and
// remembers that it had to.
class Watchdog {
public:
    explicit Watchdog(int ms = 10000) {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_fired = true;
            closeModals();
        });
        m_timer.start(ms);
    }
    bool fired() const { return m_fired; }

    static void closeModals() {
        for (int i = 0; i < 10; ++i) {
            if (QWidget* popup = QApplication::activePopupWidget()) {
                popup->close();
            } else if (QWidget* modal = QApplication::activeModalWidget()) {
                modal->close();
            } else {
                return;
            }
        }
    }

private:
    QTimer m_timer;
    bool m_fired = false;
};

// Every test ends with no window left: later tests depend on activation.
inline bool noWindowLeft() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible()) return false;
    return true;
}

}  // namespace uitest
