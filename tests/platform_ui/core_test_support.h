// Shared by the framework core's GoogleTest files: runs a dialog modally with
// a test body inside its loop, and checks the environment after each test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QtTest>
#include <functional>
#include <memory>

#include "ui_test_support.h"

namespace uitest {

// DoModal's result when the body returned with the dialog still open, which
// happens when an assertion inside the body gave up.
constexpr int kLeftOpen = -77;

// Runs `dialog` modally; `body` runs inside its loop once its window is
// active. Whatever the body does, the dialog ends.
inline INT_PTR runModal(CDialog& dialog, const std::function<void()>& body) {
    bool ran = false;
    ui::ModalHook previous = ui::SetModalHook([&](ui::ModalKind kind, CWnd* wnd) {
        if (kind != ui::ModalKind::Dialog || wnd != &dialog || ran) return;
        ran = true;
        QWidget* w = ui::detail::widgetOf(&dialog);
        EXPECT_TRUE(w && QTest::qWaitForWindowActive(w)) << "dialog never became active";
        if (w && w->isActiveWindow()) body();
        if (QWidget* still = ui::detail::widgetOf(&dialog); still && still->isVisible())
            dialog.EndDialog(kLeftOpen);
    });
    const INT_PTR result = dialog.DoModal();
    ui::SetModalHook(std::move(previous));
    return result;
}

// Each test starts with a watchdog and ends with every window closed.
class CoreTest : public ::testing::Test {
protected:
    void SetUp() override { m_watchdog = std::make_unique<Watchdog>(); }
    void TearDown() override {
        ui::SetModalHook({});
        EXPECT_FALSE(m_watchdog->fired()) << "a modal loop had to be closed by the watchdog";
        m_watchdog.reset();
        EXPECT_TRUE(noWindowLeft());
    }

private:
    std::unique_ptr<Watchdog> m_watchdog;
};

inline QWindow* windowOf(const CWnd& wnd) {
    QWidget* w = ui::detail::widgetOf(&wnd);
    return w ? w->windowHandle() : nullptr;
}

// The id of the control that has the focus, 0 for none.
inline int focusId() {
    CWnd* focus = CWnd::GetFocus();
    return focus ? focus->GetDlgCtrlID() : 0;
}

}  // namespace uitest

// Every core test file: a QApplication under the offscreen platform.
#define UI_CORE_TEST_MAIN()                                 \
    int main(int argc, char** argv) {                       \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) \
            qputenv("QT_QPA_PLATFORM", "offscreen");        \
        QApplication app(argc, argv);                       \
        ::testing::InitGoogleTest(&argc, argv);             \
        return RUN_ALL_TESTS();                             \
    }
