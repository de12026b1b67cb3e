// Shared by the framework's tests: a top-level window that controls can be
// children of, and a fixture that runs each test under the kit's watchdog and
// checks that no window is left.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QStringList>
#include <QtTest>
#include <memory>

#include "handle.h"
#include "ui/testing_qt.h"

namespace uitest {

using namespace ui::test;

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

// Each test starts with a watchdog and ends with every window closed.
class CoreTest : public ::testing::Test {
protected:
    void SetUp() override { m_watchdog = std::make_unique<Watchdog>(); }
    void TearDown() override {
        ui::SetModalHook({});
        ui::SetModalEndHook({});
        ui::SetMessageBoxPresenter({});
        EXPECT_FALSE(m_watchdog->fired()) << "a modal loop had to be closed by the watchdog";
        Watchdog::closeModals();
        m_watchdog.reset();
        EXPECT_TRUE(noWindowLeft());
    }

private:
    std::unique_ptr<Watchdog> m_watchdog;
};

}  // namespace uitest

// Every test file: a QApplication under the offscreen platform.
#define UI_CORE_TEST_MAIN()                                 \
    int main(int argc, char** argv) {                       \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) \
            qputenv("QT_QPA_PLATFORM", "offscreen");        \
        QApplication app(argc, argv);                       \
        ::testing::InitGoogleTest(&argc, argv);             \
        return RUN_ALL_TESTS();                             \
    }
