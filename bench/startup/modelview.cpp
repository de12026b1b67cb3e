// The start-up anchor for the user list: a straightforward model/view Qt
// program doing the program's job on the same store. One SQLite scan of the
// users at $KEYWARD_DB into records, a QTableView over a model that formats
// each row's four texts when the view asks, a main window around it, and the
// login window posted once the main window shows. In the family and size
// the program's dialogs use.
#include <QAbstractTableModel>
#include <QApplication>
#include <QDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/rawscan.h"
#include "ui/family_qt.h"

namespace {

class UserModel final : public QAbstractTableModel {
public:
    UserModel(std::vector<bench::RawRecord> users, int items)
        : m_users(std::move(users)), m_items(items) {}

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(m_users.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : 4;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid()) return {};
        const bench::RawRecord& user = m_users[std::size_t(index.row())];
        switch (index.column()) {
            case 0:
                return QStringLiteral("%1").arg(index.row() + 1, 2, 10, QLatin1Char('0'));
            case 1:
                return QString::fromUtf8(user.name);
            case 2:
                return QStringLiteral("Level_%1").arg(user.level);
            default: {
                QString bits;
                for (std::uint32_t mask = user.mask; mask != 0; mask >>= 1)
                    bits += (mask & 1u) ? QLatin1Char('1') : QLatin1Char('0');
                while (bits.size() < m_items) bits += QLatin1Char('0');
                return bits;
            }
        }
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
        static const char* const kHeadings[] = {"序号", "用户名", "级别", "权限"};
        return QString::fromUtf8(kHeadings[section]);
    }

private:
    std::vector<bench::RawRecord> m_users;
    int m_items;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const char* path = std::getenv("KEYWARD_DB");
    sqlite3* db = nullptr;
    if (!path || sqlite3_open_v2(path, &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "bench_modelview: KEYWARD_DB names no store\n");
        return 1;
    }
    std::vector<bench::RawRecord> users;
    bench::rawScan(db, users);
    const int items = bench::rawItemCount(db);
    sqlite3_close(db);

    const QFont font(ui::chineseFamily(), 9);  // the templates' size
    QDialog main;
    main.setWindowTitle(QStringLiteral("用户权限管理 v2.0"));
    main.setFont(font);
    auto* layout = new QVBoxLayout(&main);
    auto* view = new QTableView;
    view->setModel(new UserModel(std::move(users), items));
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->verticalHeader()->hide();
    layout->addWidget(view);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("用户名："), new QLineEdit);
    form->addRow(QStringLiteral("密码："), new QLineEdit);
    layout->addLayout(form);
    main.resize(600, 500);
    main.show();

    // The login window over it, once the main window is up.
    QDialog login(&main);
    QTimer::singleShot(0, [&] {
        login.setWindowTitle(QStringLiteral("登陆 -用户权限管理"));
        login.setFont(font);
        auto* rows = new QFormLayout(&login);
        rows->addRow(new QLabel(QStringLiteral("欢迎使用用户管理程序，请登录...")));
        rows->addRow(QStringLiteral("账号："), new QLineEdit);
        auto* password = new QLineEdit;
        password->setEchoMode(QLineEdit::Password);
        rows->addRow(QStringLiteral("密码："), password);
        auto* buttons = new QHBoxLayout;
        buttons->addWidget(new QPushButton(QStringLiteral("登陆")));
        buttons->addWidget(new QPushButton(QStringLiteral("退出")));
        rows->addRow(buttons);
        login.show();
    });
    return app.exec();
}
