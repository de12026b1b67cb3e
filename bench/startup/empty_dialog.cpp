// The start-up anchor: an empty Qt dialog showing one line of Chinese text
// in the family the program's dialogs use, and nothing else.
#include <QApplication>
#include <QDialog>
#include <QFontDatabase>
#include <QLabel>
#include <QVBoxLayout>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // As the dialog framework picks its family for the templates' faces.
    QString family;
    const QStringList families = QFontDatabase::families();
    for (const QString& preferred :
         {QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC")})
        if (family.isEmpty() && families.contains(preferred)) family = preferred;
    if (family.isEmpty()) {
        const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
        if (!chinese.isEmpty()) family = chinese.first();
    }
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("empty dialog"));
    dialog.setFont(QFont(family, 8));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("欢迎使用用户管理程序，请登录...")));
    dialog.resize(300, 180);
    dialog.show();
    return app.exec();
}
