// The operator's language: which one the locale asks for, and a registered
// catalog's texts shown where the framework shows the program's texts
// (templates, menus, column headings, message boxes), never in place of
// what the program sets itself. This process asks for English (LC_ALL).
#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QTableView>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "language.h"
#include "ui_test.h"

namespace {

constexpr int kDialog = 9400;
constexpr int kLabel = 9401;
constexpr int kButton = 9402;
constexpr int kMenu = 9410;
constexpr UINT kEntry = 9411;
constexpr int kList = 9420;

std::string cp(const char* utf8) {
    return uitest::cp936(utf8);
}

// A catalog as msgfmt compiles it: the header entry first, the originals
// sorted, each table of (length, offset), then the texts with their NULs.
std::vector<unsigned char> compiled(std::vector<std::pair<std::string, std::string>> entries) {
    entries.insert(entries.begin(), {"", "Content-Type: text/plain; charset=UTF-8\n"});
    std::vector<unsigned char> out;
    const auto word = [&](std::uint32_t w) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(w >> (8 * i)));
    };
    const auto n = std::uint32_t(entries.size());
    const std::uint32_t originals = 28, translations = originals + 8 * n;
    std::uint32_t at = translations + 8 * n;
    for (std::uint32_t w : {0x950412deu, 0u, n, originals, translations, 0u, 0u}) word(w);
    std::string texts;
    for (int side = 0; side < 2; ++side)
        for (const auto& e : entries) {
            const std::string& s = side == 0 ? e.first : e.second;
            word(std::uint32_t(s.size()));
            word(at + std::uint32_t(texts.size()));
            texts += s;
            texts += '\0';
        }
    out.insert(out.end(), texts.begin(), texts.end());
    return out;
}

const std::vector<unsigned char>& catalogBytes() {
    static const std::vector<unsigned char> s_bytes =
        compiled({{"保存(&S)", "&Save"},
                  {"提示", "Notice"},
                  {"确认删除此用户吗？用户名：%s", "Delete this user? User name: %s"},
                  {"用户", "Users"},
                  {"用户权限管理", "User permissions"}});
    return s_bytes;
}

void registerResources() {
    // A catalog for another language is never read here.
    static const std::vector<unsigned char> s_german = compiled({{"用户", "Benutzer"}});
    ui::RegisterTranslation("de", s_german.data(), s_german.size());
    ui::RegisterTranslation("en", catalogBytes().data(), catalogBytes().size());
    using ui::ControlKind;
    // Templates keep pointers to their texts.
    static const std::string s_caption = cp("用户权限管理"), s_users = cp("用户"),
                             s_save = cp("保存(&S)");
    ui::RegisterDialog({kDialog,
                        s_caption.c_str(),
                        200,
                        100,
                        "DejaVu Sans",
                        9,
                        WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
                        {{ControlKind::Static, s_users.c_str(), kLabel, 5, 5, 60, 10, WS_VISIBLE},
                         {ControlKind::Button, s_save.c_str(), kButton, 5, 20, 50, 14,
                          WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON}}});
    ui::RegisterMenu({kMenu, {{"popup", 0, {{s_save.c_str(), kEntry, {}}}}}});
}

using Language = uitest::CoreTest;

TEST(LocaleLanguage, LcAllThenLcMessagesThenLangTheFirstThatIsSet) {
    struct Case {
        const char *lcAll, *lcMessages, *lang;
        std::string language;
    } cases[] = {
        {nullptr, nullptr, "en_US.UTF-8", "en"},
        {nullptr, nullptr, "en", "en"},
        {nullptr, nullptr, "en_GB@euro", "en"},
        {nullptr, nullptr, "zh_CN.UTF-8", "zh"},
        {nullptr, nullptr, "C", ""},
        {nullptr, nullptr, "C.UTF-8", ""},
        {nullptr, nullptr, "POSIX", ""},
        {nullptr, nullptr, nullptr, ""},
        {nullptr, "en_US.UTF-8", "zh_CN.UTF-8", "en"},
        {"", "en_US.UTF-8", "zh_CN.UTF-8", "en"},
        {"C", "en_US.UTF-8", "en_US.UTF-8", ""},
        {"zh_CN.GB2312", nullptr, "en_US.UTF-8", "zh"},
        {"en_US.UTF-8", "zh_CN.UTF-8", "zh_CN.UTF-8", "en"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ui::detail::localeLanguage(c.lcAll, c.lcMessages, c.lang), c.language)
            << (c.lcAll ? c.lcAll : "-") << " " << (c.lcMessages ? c.lcMessages : "-") << " "
            << (c.lang ? c.lang : "-");
}

TEST_F(Language, TextsShowTranslatedWhereTheFrameworkShowsThem) {
    // The explicit call: a translation, or the very same text.
    const std::string save = cp("保存(&S)");
    EXPECT_STREQ(AfxTr(save.c_str()), "&Save");
    const std::string other = cp("其他");
    EXPECT_EQ(AfxTr(other.c_str()), other.c_str());
    EXPECT_EQ(AfxTr(nullptr), nullptr);

    // A template: caption and control texts.
    CDialog dlg(kDialog);
    HWND found = nullptr;
    EXPECT_EQ(uitest::runModal(dlg,
                               [&] {
                                   EXPECT_EQ(uitest::widget(&dlg)->windowTitle(),
                                             QStringLiteral("User permissions"));
                                   EXPECT_EQ(uitest::textOf(dlg, kLabel), "Users");
                                   EXPECT_EQ(uitest::textOf(dlg, kButton), "&Save");
                                   // A second copy asks by the program's own words.
                                   found = FindWindowA("#32770", cp("用户权限管理").c_str());
                                   EXPECT_EQ(FindWindowA("#32770", "User permissions"), found);
                                   // What the program sets is shown as it is.
                                   dlg.GetDlgItem(kLabel)->SetWindowText(cp("用户").c_str());
                                   EXPECT_EQ(uitest::textOf(dlg, kLabel), cp("用户"));
                                   dlg.EndDialog(IDOK);
                               }),
              IDOK);
    EXPECT_NE(found, nullptr);

    // A message box: text and caption, before any presenter sees them.
    std::vector<ui::MessageBoxRequest> boxes;
    ui::SetMessageBoxPresenter([&](const ui::MessageBoxRequest& r) {
        boxes.push_back(r);
        return IDOK;
    });
    uitest::HostWindow host;
    ASSERT_TRUE(host.showAndWait());
    CString question;
    question.Format(AfxTr(cp("确认删除此用户吗？用户名：%s").c_str()), cp("张三").c_str());
    host.MessageBox(question, cp("提示").c_str(), MB_YESNO);
    host.MessageBox(cp("其他").c_str(), cp("用户").c_str(), MB_OK);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Delete this user? User name: " + cp("张三"));
    EXPECT_EQ(boxes[0].caption, "Notice");
    EXPECT_EQ(boxes[1].text, cp("其他"));
    EXPECT_EQ(boxes[1].caption, "Users");

    // A menu's entries as it shows them; the program still reads its own.
    CMenu menu;
    ASSERT_TRUE(menu.LoadMenu(kMenu));
    QStringList shown;
    ui::SetModalHook([&](ui::ModalKind kind, CWnd*) {
        auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (kind != ui::ModalKind::PopupMenu || !popup) return;
        for (QAction* a : popup->actions()) shown << a->text();
        popup->close();
    });
    menu.GetSubMenu(0)->TrackPopupMenu(TPM_LEFTALIGN, 10, 10, &host);
    EXPECT_EQ(shown, QStringList({"&Save"}));
    CString entry;
    menu.GetMenuString(kEntry, entry, MF_BYCOMMAND);
    EXPECT_EQ(entry.str(), save);

    // A list's column headings; its cells are data.
    CListCtrl list;
    ASSERT_TRUE(
        list.Create(WS_CHILD | WS_VISIBLE | LVS_REPORT, CRect(0, 0, 200, 100), &host, kList));
    list.InsertColumn(0, cp("用户").c_str(), LVCFMT_LEFT, 80);
    list.InsertItem(0, cp("用户").c_str());
    auto* view = dynamic_cast<QTableView*>(uitest::widget(&list));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Users"));
    EXPECT_EQ(list.GetItemText(0, 0).str(), cp("用户"));

    // A control the program makes at run time shows its caption as given.
    CButton box;
    ASSERT_TRUE(box.Create(cp("用户").c_str(), WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX,
                           CRect(0, 120, 100, 140), &host, 9430));
    CString caption;
    box.GetWindowText(caption);
    EXPECT_EQ(caption.str(), cp("用户"));
    box.DestroyWindow();
    list.DestroyWindow();
}

}  // namespace

// English, whatever the environment: LC_ALL is read before LC_MESSAGES and LANG.
int main(int argc, char** argv) {
    ::setenv("LC_ALL", "en_US.UTF-8", 1);
    // Before the first text is shown: the language is settled then.
    registerResources();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
