// Shared by the framework's tests: the kit's host window with the widgets
// behind it and a trace of what reaches it, and a fixture that runs each
// test under the kit's watchdog and checks that no window is left.
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

// Derived classes add message maps and record what reaches them in `trace`.
class HostWindow : public ui::test::HostWindow {
public:
    using ui::test::HostWindow::HostWindow;

    QWidget* widget() const { return ui::test::widget(this); }
    QWindow* window() const { return widget()->windowHandle(); }

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
