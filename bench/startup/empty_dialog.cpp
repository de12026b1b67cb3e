// The start-up anchor: an empty Qt dialog showing one line of Chinese text
// in the family the program's dialogs use, and nothing else.
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/family_qt.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The family the framework gives the templates' faces.
    const QString family = ui::chineseFamily();
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("empty dialog"));
    dialog.setFont(QFont(family, 9));  // the templates' size
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("欢迎使用用户管理程序，请登录...")));
    dialog.resize(300, 180);
    dialog.show();
    return app.exec();
}
