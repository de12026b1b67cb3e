// The program's texts in the language the locale asks for: its own Chinese,
// byte for byte, for zh_CN, C and no locale; English where LANG, LC_MESSAGES
// or LC_ALL ask for it. CTest runs this once per locale and says in
// ROLVANE_EXPECT_LANGUAGE ("zh" or "en") what the operator must read.
#include <QAbstractItemView>
#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QTableView>
#include <QTest>
#include <cstdlib>

#include "itemdlg/advancedlg.h"
#include "program_test.h"
#include "res/resource.h"
#include "ui/testing_qt.h"

using namespace progtest;

namespace {

bool english() {
    const char* expected = std::getenv("ROLVANE_EXPECT_LANGUAGE");
    return expected && std::string(expected) == "en";
}

// What the operator reads for a text of the program (UTF-8 given).
std::string shown(const char* chinese, const char* inEnglish) {
    return english() ? inEnglish : cp(chinese);
}

class LanguageTest : public TwoUserTest {
protected:
    // Each control of the dialog's template shows its text in the
    // operator's language: the template's own bytes, or their translation.
    static void expectTemplateTexts(CDialog& dlg, int id) {
        const ui::DialogTemplate* t = ui::FindDialog(id);
        ASSERT_NE(t, nullptr);
        CString caption;
        dlg.GetWindowText(caption);
        EXPECT_EQ(caption.str(), AfxTr(t->caption));
        for (const ui::ControlTemplate& c : t->controls) {
            // The current-user line is the program's once logged in.
            if (!c.text || !*c.text || c.id == IDC_STATIC || c.id == IDC_STATIC_CURUSER) continue;
            EXPECT_EQ(textOf(dlg, c.id), AfxTr(c.text)) << c.id;
        }
    }
};

// Every text of the catalog: in Chinese the very text the sources hold, in
// English its translation, which is ASCII and another text.
TEST_F(LanguageTest, EveryTextOfTheCatalogIsShownInTheOperatorsLanguage) {
    const std::vector<std::string> texts = translatedTexts();
    ASSERT_GT(texts.size(), 50u);
    for (const std::string& text : texts) {
        const char* translated = AfxTr(text.c_str());
        if (!english()) {
            EXPECT_EQ(translated, text.c_str()) << text;
            continue;
        }
        const std::string t = translated;
        EXPECT_NE(t, text);
        EXPECT_TRUE(std::all_of(t.begin(), t.end(), [](char c) { return c > 0; })) << t;
    }
    EXPECT_STREQ(AfxTr(cp("登录失败").c_str()), shown("登录失败", "Login failed").c_str());
    EXPECT_STREQ(AfxTr(cp("保存(&S)").c_str()), shown("保存(&S)", "&Save").c_str());
}

TEST_F(LanguageTest, WindowsMenusListsAndBoxesSpeakTheOperatorsLanguage) {
    MessageBoxScript boxes;
    boxes.expect();
    std::map<UINT, QString> entries;
    QStringList headings;
    std::string status;
    CrolvaneDlg dlg;
    runMainDialog(dlg, {[&](CLoginDlg& login) {
                            EXPECT_EQ(widget(&login)->windowTitle().toStdString(),
                                      english() ? "Log in - User Permission Management"
                                                : "登陆 -用户权限管理");
                            expectTemplateTexts(login, IDD_LOGIN);
                            fakestore::script().loginResult = ERR_NO_SUCH_USER;
                            loginAs(login, "nobody", "pw");
                            fakestore::script().loginResult = 0;
                            loginAs(login, "root", "pw");
                        },
                        [&](CrolvaneDlg& main) {
                            expectTemplateTexts(main, IDD_ROLVANE_DIALOG);
                            status = textOf(main, IDC_STATIC_CURUSER);
                            auto* view = qobject_cast<QTableView*>(widget(&main.m_userList));
                            for (int i = 0; i < view->horizontalHeader()->count(); ++i)
                                headings << view->model()->headerData(i, Qt::Horizontal).toString();
                            auto previous = ui::SetModalHook([&](ui::ModalKind kind, CWnd*) {
                                auto* menu =
                                    qobject_cast<QMenu*>(QApplication::activePopupWidget());
                                if (kind != ui::ModalKind::PopupMenu || !menu) return;
                                for (QAction* a : menu->actions())
                                    entries[a->data().toUInt()] = a->text();
                                menu->close();
                            });
                            CRect row;
                            main.m_userList.GetSubItemRect(1, 1, LVIR_BOUNDS, row);
                            QTest::mouseClick(view->viewport(), Qt::RightButton, {},
                                              QPoint(row.left + 5, row.top + 3));
                            ui::SetModalHook(previous);
                            main.SendMessage(WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
                            CAdvanceDlg items;
                            runModal(items, [&] {
                                expectTemplateTexts(items, IDD_ADVANCE);
                                items.EndDialog(IDCANCEL);
                            });
                            main.SendMessage(WM_CLOSE);
                        },
                        [&](CDialog& about) {
                            expectTemplateTexts(about, IDD_ABOUTBOX);
                            about.EndDialog(IDOK);
                        }});

    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, shown("用户名错误.", "Wrong user name."));
    EXPECT_EQ(boxes.shown()[0].caption, shown("登录失败", "Login failed"));
    EXPECT_EQ(status,
              shown("当前用户：root   级别：Level_4", "Current user: root   Level: Level_4"));
    EXPECT_EQ(headings, english() ? QStringList({"No.", "User name", "Level", "Permissions"})
                                  : QStringList({"序号", "用户名", "级别", "权限"}));
    const std::map<UINT, QString> menu = {
        {ID_USER_NEW, english() ? "&New" : "新建（&N）"},
        {ID_USER_EDIT, english() ? "&Edit" : "编辑（&E）"},
        {ID_USER_CHANGEPWD, english() ? "Change password" : "修改密码"},
        {ID_USER_CLEARPWD, english() ? "Clear password" : "清空密码"},
        {ID_USER_DELETE, english() ? "&Delete" : "删除（&D）"},
        {ID_USER_REFRESH, english() ? "Re&fresh" : "刷新（&F）"},
    };
    EXPECT_EQ(entries, menu);
}

}  // namespace
