// Time, input and timers, and the end of modal windows: what a program
// needs to lock itself after a while without input.
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>

#include "clock.h"
#include "dispatch.h"
#include "handle.h"
#include "ui/testing.h"

namespace ui::detail {

namespace {

// Real milliseconds times the rate, continuous across changes of the rate.
struct Clock {
    QElapsedTimer real;
    qint64 ticksAtChange = 0;
    qint64 realAtChange = 0;
    unsigned rate = 1;

    Clock() { real.start(); }
    qint64 now() const { return ticksAtChange + (real.elapsed() - realAtChange) * rate; }
};

Clock& theClock() {
    static Clock s_clock;
    return s_clock;
}

// Until the first input, the program counts as idle since it started.
DWORD g_lastInput = 0;

}  // namespace

DWORD tickCount() {
    return DWORD(theClock().now());
}

void noteInput() {
    g_lastInput = tickCount();
}

}  // namespace ui::detail

namespace ui {

void SetClockRate(unsigned rate) {
    auto& c = detail::theClock();
    c.ticksAtChange = c.now();
    c.realAtChange = c.real.elapsed();
    c.rate = std::max(rate, 1u);
}

}  // namespace ui

DWORD GetTickCount() {
    return ui::detail::tickCount();
}

BOOL GetLastInputInfo(LASTINPUTINFO* plii) {
    if (!plii) return FALSE;
    plii->dwTime = ui::detail::g_lastInput;
    return TRUE;
}

UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer) {
    using namespace ui::detail;
    QWidget* w = widgetOf(this);
    if (!w || lpfnTimer) return 0;
    QPointer<QTimer>& timer = m_hWnd->timers[nIDEvent];
    if (!timer) {
        // Owned by the window's widget: it stops with the window.
        timer = new QTimer(w);
        QObject::connect(timer, &QTimer::timeout, [h = m_hWnd, nIDEvent] {
            if (CWnd* wnd = wndOf(h)) dispatch(wnd, WM_TIMER, WPARAM(nIDEvent), 0);
        });
    }
    const qint64 real = qint64(nElapse) / theClock().rate;
    timer->start(int(std::clamp<qint64>(real, 1, INT32_MAX)));
    return nIDEvent;
}

BOOL CWnd::KillTimer(UINT_PTR nIDEvent) {
    if (!m_hWnd) return FALSE;
    const auto it = m_hWnd->timers.find(nIDEvent);
    if (it == m_hWnd->timers.end()) return FALSE;
    delete it->second.data();
    m_hWnd->timers.erase(it);
    return TRUE;
}

BOOL AfxEndModalWindows(CWnd* pWnd) {
    using namespace ui::detail;
    QWidget* own = widgetOf(pWnd);
    if (!own) return FALSE;
    BOOL ended = FALSE;
    // A window's own close path may open another (a question): that one goes
    // too, a few rounds at most.
    for (int i = 0; i < 16; ++i) {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            popup->close();
        } else if (QWidget* modal = QApplication::activeModalWidget();
                   modal && modal != own->window()) {
            if (CWnd* dialog = wndOf(handleOf(modal)))
                dialog->SendMessage(WM_CLOSE);
            else if (auto* box = qobject_cast<QDialog*>(modal))
                box->reject();
            else
                modal->close();
        } else {
            break;
        }
        ended = TRUE;
    }
    return ended;
}
