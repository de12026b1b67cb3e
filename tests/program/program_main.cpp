#include <gtest/gtest.h>

#include <QApplication>

#include "ui/app.h"

// The application object the dialogs find as their owner's keeper.
static CWinApp g_testApp;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
