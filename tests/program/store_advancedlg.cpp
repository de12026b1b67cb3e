// The item editor over the real store: deleting the last item through the
// window realigns every mask, so nobody keeps the deleted item and nobody
// gains the item added after it; a user holding an earlier item keeps it.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <string>
#include <vector>

#include "itemdlg/advancedlg.h"
#include "res/resource.h"
#include "support.h"
#include "ui/testing_qt.h"

namespace {

std::string cp(const char* utf8) {
    return ui::test::cp936(utf8);
}

QAbstractItemView* viewOf(CAdvanceDlg& dlg) {
    return qobject_cast<QAbstractItemView*>(ui::test::widget(&dlg.m_list));
}

QPoint cellCenter(CAdvanceDlg& dlg, int row, int col) {
    CRect r;
    dlg.m_list.GetSubItemRect(row, col, LVIR_BOUNDS, r);
    return QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

void typeInto(CAdvanceDlg& dlg, int row, int col, const char* text) {
    QWindow* window = ui::test::widget(&dlg)->windowHandle();
    QTest::mouseDClick(viewOf(dlg)->viewport(), Qt::LeftButton, {}, cellCenter(dlg, row, col));
    ASSERT_TRUE(
        QTest::qWaitFor([] { return qobject_cast<QLineEdit*>(QApplication::focusWidget()); }));
    QTest::sendKeyEvent(QTest::Click, window, Qt::Key_unknown, QString::fromUtf8(text),
                        Qt::NoModifier);
    QTest::keyClick(window, Qt::Key_Return);
}

void deleteLast(CAdvanceDlg& dlg) {
    auto previous = ui::SetModalHook([](ui::ModalKind kind, CWnd*) {
        if (kind != ui::ModalKind::PopupMenu) return;
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* a : menu->actions())
                if (a->data().toUInt() == ID_USER_DELETE) a->trigger();
            menu->close();
        }
    });
    QTest::mouseClick(viewOf(dlg)->viewport(), Qt::RightButton, {}, cellCenter(dlg, 0, 1));
    ui::SetModalHook(previous);
    QTest::qWait(20);  // the command is posted
}

std::vector<std::string> itemNames() {
    std::vector<LimitRecord> items(static_cast<size_t>(std::max(0, get_limit_list(nullptr))));
    if (!items.empty()) get_limit_list(items.data());
    std::vector<std::string> names;
    for (const LimitRecord& r : items) names.emplace_back(r.name, strnlen(r.name, sizeof r.name));
    return names;
}

using ItemEditorOverStore = kwtest::StoreTest;

TEST_F(ItemEditorOverStore, DeletingTheLastItemPassesItsGrantToNobody) {
    keyward_start();
    ASSERT_EQ(add_limit(SYS_LIMIT_NAME, SYS_LIMIT_TITLE), 0);
    ASSERT_EQ(add_limit("params", "Params"), 1);
    ASSERT_EQ(add_limit("motion", "Motion"), 2);
    ASSERT_EQ(add_user("root", "root-pw", 4, 0xFFFFFFFFu), 0);
    ASSERT_EQ(add_user("op", "", 1, 0b110), 0);      // params and motion
    ASSERT_EQ(add_user("viewer", "", 1, 0b010), 0);  // params only
    ASSERT_EQ(login("root", "root-pw"), 0);

    ui::test::MessageBoxScript boxes;
    boxes.expect(IDYES);
    CAdvanceDlg dlg;
    bool ran = false;
    const auto hook = ui::SetModalHook([&](ui::ModalKind kind, CWnd* wnd) {
        if (kind != ui::ModalKind::Dialog || wnd != &dlg || ran) return;
        ran = true;
        QWidget* w = ui::test::widget(&dlg);
        [&] {
            ASSERT_TRUE(QTest::qWaitForWindowActive(w));
            deleteLast(dlg);
            ASSERT_EQ(dlg.m_nItemCount, 2);
            typeInto(dlg, 2, 1, "io");
            typeInto(dlg, 2, 2, "IO监视");
            QTest::qWait(20);
            EXPECT_EQ(dlg.m_list.GetItemText(2, 0).str(), "3");
        }();
        w->close();
    });
    ui::test::Watchdog watchdog(15000);
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_FALSE(watchdog.fired());
    ui::SetModalHook(hook);

    EXPECT_EQ(boxes.texts(), std::vector<std::string>({cp("您确认要删除权限项:motion-Motion吗?")}));
    EXPECT_EQ(itemNames(), std::vector<std::string>({"sys_limit", "params", "io"}));
    // io took motion's position: motion's holder does not hold it.
    EXPECT_EQ(get_user_limit("op"), 0b010u);
    EXPECT_EQ(chk_user_limit("io", "op"), 0);
    EXPECT_NE(chk_user_limit("params", "op"), 0);
    EXPECT_EQ(get_user_limit("viewer"), 0b010u);
    EXPECT_NE(chk_user_limit("io", "root"), 0) << "all-ones means every item";
}

}  // namespace
