// The permission item editor over the recording store: the listing, adding
// through the entry row with every refusal, deleting the last item, the keys
// that keep it open, and the main dialog's button and panel.
#include <QAbstractItemView>
#include <QAction>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <map>

#include "itemdlg/advancedlg.h"
#include "program_test.h"
#include "res/resource.h"
#include "ui/testing_qt.h"

using namespace progtest;

namespace {

constexpr UINT kPosted = MB_OK | MB_ICONWARNING;
constexpr UINT kNotice = MB_OK | MB_ICONINFORMATION;

// Runs the editor modally with `body` inside its loop, then closes it
// through its close box if the body left it open.
INT_PTR runEditor(CAdvanceDlg& dlg, const std::function<void(CAdvanceDlg&)>& body) {
    bool timedOut = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        timedOut = true;
        for (int i = 0; i < 10; ++i) {
            if (QWidget* popup = QApplication::activePopupWidget())
                popup->close();
            else if (QWidget* modal = QApplication::activeModalWidget(); modal != widget(&dlg))
                modal->close();
        }
        dlg.EndDialog(IDABORT);
    });
    watchdog.start(15000);
    bool ran = false;
    auto previous = ui::SetModalHook([&](ui::ModalKind kind, CWnd* wnd) {
        if (kind != ui::ModalKind::Dialog || wnd != &dlg || ran) return;
        ran = true;
        waitFor([&] { return QApplication::activeWindow() == widget(&dlg); });
        body(dlg);
        if (dlg.IsWindowVisible()) widget(&dlg)->close();  // the close box
    });
    const INT_PTR result = dlg.DoModal();
    ui::SetModalHook(previous);
    EXPECT_FALSE(timedOut) << "the editor stayed open";
    return result;
}

QAbstractItemView* viewOf(CAdvanceDlg& dlg) {
    return qobject_cast<QAbstractItemView*>(widget(&dlg.m_list));
}

// Scrolls the row into view first, as a person would.
QPoint cellCenter(CAdvanceDlg& dlg, int row, int col) {
    dlg.m_list.EnsureVisible(row, FALSE);
    QCoreApplication::processEvents();
    CRect r;
    dlg.m_list.GetSubItemRect(row, col, LVIR_BOUNDS, r);
    return QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

std::vector<std::string> rowOf(CAdvanceDlg& dlg, int row) {
    return {dlg.m_list.GetItemText(row, 0).str(), dlg.m_list.GetItemText(row, 1).str(),
            dlg.m_list.GetItemText(row, 2).str()};
}

// Double-clicks a cell, types the text (UTF-8) through the window and ends
// the edit with Enter; waits for posted boxes to be shown.
void typeInto(CAdvanceDlg& dlg, int row, int col, const char* utf8) {
    QWindow* window = widget(&dlg)->windowHandle();
    QTest::mouseDClick(viewOf(dlg)->viewport(), Qt::LeftButton, {}, cellCenter(dlg, row, col));
    if (!waitFor([] { return qobject_cast<QLineEdit*>(QApplication::focusWidget()); })) {
        ADD_FAILURE() << "no edit box opened";
        return;
    }
    QTest::sendKeyEvent(QTest::Click, window, Qt::Key_unknown, QString::fromUtf8(utf8),
                        Qt::NoModifier);
    QTest::keyClick(window, Qt::Key_Return);
    QTest::qWait(10);  // posted messages
}

// Right-clicks a row (-1: below the rows) and returns the menu's entries by
// id and text; picks `choose` if offered, else dismisses the menu.
std::map<UINT, std::string> rightClick(CAdvanceDlg& dlg, int row, UINT choose = 0) {
    const QPoint at =
        row >= 0 ? cellCenter(dlg, row, 1) : QPoint(10, viewOf(dlg)->viewport()->height() - 3);
    std::map<UINT, std::string> entries;
    auto previous = ui::SetModalHook([&](ui::ModalKind kind, CWnd*) {
        if (kind != ui::ModalKind::PopupMenu) return;
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        QAction* chosen = nullptr;
        for (QAction* a : menu->actions()) {
            entries[a->data().toUInt()] = cp(a->text().toUtf8().constData());
            if (a->data().toUInt() == choose) chosen = a;
        }
        if (chosen) chosen->trigger();
        menu->close();
    });
    QTest::mouseClick(viewOf(dlg)->viewport(), Qt::RightButton, {}, at);
    ui::SetModalHook(previous);
    QTest::qWait(10);  // the chosen command is posted
    return entries;
}

std::vector<std::string> storeWrites() {
    std::vector<std::string> out;
    for (const std::string& c : fakestore::calls())
        if (c.rfind("add_limit", 0) == 0 || c.rfind("del_limit", 0) == 0) out.push_back(c);
    return out;
}

class ItemEditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakestore::reset();
        auto& s = fakestore::script();
        s.items = {fakestore::item("sys_limit", cp("系统权限").c_str())};
        s.users = {fakestore::user("root", 4, 0xFFFFFFFFu)};
        s.curUser = "root";
        s.limitWritesStick = true;
    }
    void TearDown() override { EXPECT_TRUE(noWindowLeft()); }

    static void addItems(int n) {
        for (int i = 1; i <= n; ++i) {
            const std::string name = "item" + std::to_string(i);
            fakestore::script().items.push_back(
                fakestore::item(name.c_str(), ("T" + name).c_str()));
        }
    }
};

TEST_F(ItemEditorTest, AddsOnceBothCellsHoldTextInEitherOrder) {
    for (const bool nameFirst : {true, false}) {
        SCOPED_TRACE(nameFirst ? "name first" : "title first");
        SetUp();
        CAdvanceDlg dlg;
        runEditor(dlg, [&](CAdvanceDlg& d) {
            EXPECT_EQ(rowOf(d, 0), std::vector<std::string>({"1", "sys_limit", cp("系统权限")}));
            EXPECT_EQ(rowOf(d, 1), std::vector<std::string>({"*", "", ""}));
            typeInto(d, 1, nameFirst ? 1 : 2, nameFirst ? "motion" : "运动控制");
            EXPECT_TRUE(storeWrites().empty());
            EXPECT_EQ(d.m_list.GetItemText(1, 0).str(), "*");
            typeInto(d, 1, nameFirst ? 2 : 1, nameFirst ? "运动控制" : "motion");
            EXPECT_EQ(storeWrites(),
                      std::vector<std::string>({"add_limit(motion," + cp("运动控制") + ")"}));
            EXPECT_EQ(rowOf(d, 1), std::vector<std::string>({"2", "motion", cp("运动控制")}));
            EXPECT_EQ(rowOf(d, 2), std::vector<std::string>({"*", "", ""}));
            EXPECT_EQ(d.m_nItemCount, 2);
            EXPECT_TRUE(d.m_bModified);
            // The added row is read-only now; the new entry row is editable.
            QTest::mouseDClick(viewOf(d)->viewport(), Qt::LeftButton, {}, cellCenter(d, 1, 1));
            EXPECT_FALSE(qobject_cast<QLineEdit*>(QApplication::focusWidget()));
            typeInto(d, 2, 1, "io");
            EXPECT_EQ(d.m_list.GetItemText(2, 1).str(), "io");
        });
    }
}

TEST_F(ItemEditorTest, RefusedTextsLeaveTheCellAndTheStoreAlone) {
    struct Case {
        const char* what;
        int col;
        const char* typed;  // UTF-8
        const char* box;    // UTF-8; null: accepted
        const char* cell;   // CP936 expected in the cell afterwards; null: as typed
    };
    const std::string n31(31, 'n');
    const std::string n32(32, 'n');
    const std::string chinese16 = "一二三四五六七八九十一二三四五六";  // 32 bytes
    const Case cases[] = {
        {"a title already listed", 2, "系统权限", "不能重复，请检查..", ""},
        {"a name already listed", 1, "sys_limit", "不能重复，请检查..", ""},
        {"a name equal to a listed title", 1, "系统权限", nullptr, nullptr},
        {"31 bytes", 1, n31.c_str(), nullptr, nullptr},
        {"32 bytes", 1, n32.c_str(), "最大长度32，请检查..", ""},
        {"16 Chinese characters are 32 bytes", 2, chinese16.c_str(), "最大长度32，请检查..", ""},
        {"surrounding spaces are checked without, kept with", 1, "  sys_limit  ",
         "不能重复，请检查..", ""},
        {"spaces are kept in the cell", 1, "  new  ", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        MessageBoxScript boxes;
        if (c.box) boxes.expect();
        CAdvanceDlg dlg;
        HWND editor = nullptr;
        runEditor(dlg, [&](CAdvanceDlg& d) {
            editor = d.m_hWnd;
            typeInto(d, 1, c.col, c.typed);
            waitFor([&] { return boxes.shown().size() == (c.box ? 1u : 0u); }, 1000);
            const std::string want = c.cell ? std::string(c.cell) : cp(c.typed);
            EXPECT_EQ(d.m_list.GetItemText(1, c.col).str(), want);
        });
        ASSERT_EQ(boxes.shown().size(), c.box ? 1u : 0u);
        if (c.box) {
            EXPECT_EQ(boxes.shown()[0].text, cp(c.box));
            EXPECT_EQ(boxes.shown()[0].caption, "Information");
            EXPECT_EQ(boxes.shown()[0].type, kPosted);
            EXPECT_EQ(boxes.shown()[0].owner, editor);
        }
        EXPECT_TRUE(storeWrites().empty());
    }
}

TEST_F(ItemEditorTest, SpacedTextsAreStoredAsTyped) {
    CAdvanceDlg dlg;
    runEditor(dlg, [](CAdvanceDlg& d) {
        typeInto(d, 1, 1, " io ");
        typeInto(d, 1, 2, "IO监视");
    });
    EXPECT_EQ(storeWrites(), std::vector<std::string>({"add_limit( io ," + cp("IO监视") + ")"}));
}

TEST_F(ItemEditorTest, StoreRefusalKeepsTheRowForAnotherTry) {
    fakestore::script().addLimitResult = -1;
    MessageBoxScript boxes;
    boxes.expect();
    CAdvanceDlg dlg;
    runEditor(dlg, [&](CAdvanceDlg& d) {
        typeInto(d, 1, 1, "motion");
        typeInto(d, 1, 2, "Motion");
        ASSERT_TRUE(waitFor([&] { return boxes.shown().size() == 1; }));
        EXPECT_EQ(rowOf(d, 1), std::vector<std::string>({"*", "motion", "Motion"}));
        EXPECT_EQ(d.m_nItemCount, 1);
        EXPECT_FALSE(d.m_bModified);
        // The next change tries again.
        fakestore::script().addLimitResult = 0;
        typeInto(d, 1, 2, "Motion2");
        EXPECT_EQ(d.m_nItemCount, 2);
    });
    EXPECT_EQ(boxes.texts(), std::vector<std::string>({cp("增加权限项失败，请检查..")}));
    EXPECT_EQ(storeWrites(),
              std::vector<std::string>({"add_limit(motion,Motion)", "add_limit(motion,Motion2)"}));
}

TEST_F(ItemEditorTest, WithoutSysLimitEditsAreRefusedNamingItsTitle) {
    fakestore::script().limit = 0;
    MessageBoxScript boxes;
    boxes.expect();
    CAdvanceDlg dlg;
    runEditor(dlg, [](CAdvanceDlg& d) {
        typeInto(d, 1, 1, "motion");
        EXPECT_EQ(d.m_list.GetItemText(1, 1).str(), "");
    });
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text,
              cp("无此权限..请联系系统管理员,确认该用户是否有 '系统权限' 权限"));
    EXPECT_EQ(boxes.shown()[0].caption, cp("提示"));
    EXPECT_EQ(boxes.shown()[0].type, kNotice);
    EXPECT_TRUE(storeWrites().empty());
}

TEST_F(ItemEditorTest, DeletesTheLastItemAfterTheQuestion) {
    addItems(2);
    MessageBoxScript boxes;
    boxes.expect(IDNO);
    boxes.expect(IDYES);
    CAdvanceDlg dlg;
    runEditor(dlg, [&](CAdvanceDlg& d) {
        // The same single entry on any row, none below the rows or for level 0.
        const std::map<UINT, std::string> only = {{ID_USER_DELETE, cp("删除最后一个权限项")}};
        EXPECT_EQ(rightClick(d, 3), only);
        EXPECT_TRUE(rightClick(d, -1).empty());
        fakestore::script().group = 0;
        EXPECT_TRUE(rightClick(d, 0).empty());
        fakestore::script().group = 4;
        EXPECT_EQ(rightClick(d, 0, ID_USER_DELETE), only);
        EXPECT_EQ(d.m_nItemCount, 3);
        rightClick(d, 0, ID_USER_DELETE);
        EXPECT_EQ(d.m_nItemCount, 2);
        EXPECT_TRUE(d.m_bModified);
        EXPECT_EQ(d.m_list.GetItemCount(), 3);
        EXPECT_EQ(rowOf(d, 2), std::vector<std::string>({"*", "", ""}));
        // The entry row took the deleted row's place and is editable there.
        typeInto(d, 2, 1, "again");
        EXPECT_EQ(d.m_list.GetItemText(2, 1).str(), "again");
    });
    const std::string ask = cp("您确认要删除权限项:item2-Titem2吗?");
    EXPECT_EQ(boxes.texts(), std::vector<std::string>({ask, ask}));
    EXPECT_EQ(boxes.shown()[0].type, UINT(MB_YESNO | MB_ICONINFORMATION));
    EXPECT_EQ(storeWrites(), std::vector<std::string>({"del_limit(2)"}));
}

TEST_F(ItemEditorTest, DeleteRefusals) {
    struct Case {
        const char* what;
        int extraItems;
        uint32_t limit;
        int delResult;
        const char* box;  // UTF-8
        const char* caption;
        std::vector<std::string> writes;
    };
    const Case cases[] = {
        {"sys_limit is last", 0, 0xFFFFFFFFu, 0, "您不能删除此权限项.", "错误", {}},
        {"no right",
         1,
         0,
         0,
         "无此权限..请联系系统管理员,确认该用户是否有 '系统权限' 权限",
         "提示",
         {}},
        {"store refuses", 1, 0xFFFFFFFFu, -5, "删除权限项失败，请检查.", "错误", {"del_limit(1)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        addItems(c.extraItems);
        fakestore::script().limit = c.limit;
        fakestore::script().delLimitResult = c.delResult;
        MessageBoxScript boxes;
        if (c.delResult != 0) boxes.expect(IDYES);
        boxes.expect();
        CAdvanceDlg dlg;
        runEditor(dlg, [&](CAdvanceDlg& d) {
            rightClick(d, 0, ID_USER_DELETE);
            EXPECT_EQ(d.m_nItemCount, 1 + c.extraItems);
            EXPECT_EQ(d.m_list.GetItemCount(), 2 + c.extraItems);
            EXPECT_FALSE(d.m_bModified);
        });
        ASSERT_FALSE(boxes.shown().empty());
        EXPECT_EQ(boxes.shown().back().text, cp(c.box));
        EXPECT_EQ(boxes.shown().back().caption, cp(c.caption));
        EXPECT_EQ(boxes.shown().back().type, kNotice);
        EXPECT_EQ(storeWrites(), c.writes);
    }
}

TEST_F(ItemEditorTest, ThirtyTwoItemsHaveNoEntryRowUntilOneGoes) {
    addItems(30);  // 31 items
    MessageBoxScript boxes;
    boxes.expect(IDYES);
    CAdvanceDlg dlg;
    runEditor(dlg, [&](CAdvanceDlg& d) {
        typeInto(d, 31, 1, "last");
        typeInto(d, 31, 2, "Last");
        EXPECT_EQ(d.m_nItemCount, 32);
        EXPECT_EQ(d.m_list.GetItemCount(), 32);
        EXPECT_EQ(d.m_list.GetItemText(31, 0).str(), "32");
        rightClick(d, 0, ID_USER_DELETE);
        EXPECT_EQ(d.m_nItemCount, 31);
        EXPECT_EQ(d.m_list.GetItemCount(), 32);
        EXPECT_EQ(rowOf(d, 31), std::vector<std::string>({"*", "", ""}));
        typeInto(d, 31, 1, "again");
        EXPECT_EQ(d.m_list.GetItemText(31, 1).str(), "again");
    });
    EXPECT_EQ(storeWrites(), std::vector<std::string>({"add_limit(last,Last)", "del_limit(31)"}));
}

TEST_F(ItemEditorTest, EnterAndEscapeKeepItOpenAndF5DropsATypedCell) {
    CAdvanceDlg dlg;
    const INT_PTR result = runEditor(dlg, [](CAdvanceDlg& d) {
        QWindow* window = widget(&d)->windowHandle();
        typeInto(d, 1, 1, "half");
        QTest::keyClick(window, Qt::Key_Return);
        QTest::keyClick(window, Qt::Key_Escape);
        QTest::qWait(10);
        EXPECT_TRUE(d.IsWindowVisible());
        EXPECT_EQ(d.m_list.GetItemText(1, 1).str(), "half");
        QTest::keyClick(window, Qt::Key_F5);
        EXPECT_EQ(rowOf(d, 1), std::vector<std::string>({"*", "", ""}));
        const auto& log = fakestore::calls();
        EXPECT_EQ(std::count(log.begin(), log.end(), "get_limit_list(null)"), 2);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(storeWrites().empty());
}

// The main dialog opens the editor for holders of sys_limit only, and its
// panel follows what the editor changed once it is closed.
TEST_F(ItemEditorTest, MainDialogButtonOpensTheEditorAndThePanelFollows) {
    fakestore::script().curUser.clear();
    MessageBoxScript boxes;
    boxes.expect();
    int editors = 0;
    HWND mainWnd = nullptr;
    CrolvaneDlg dlg;
    runMainDialog(dlg, {[](CLoginDlg& login) { loginAs(login, "root", "pw"); },
                        [&](CrolvaneDlg& main) {
                            mainWnd = main.m_hWnd;
                            ASSERT_EQ(main.m_permCount, 1);
                            fakestore::script().limit = 0;
                            main.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_BTN_ITEMS, BN_CLICKED), 0);
                            EXPECT_EQ(editors, 0);
                            fakestore::script().limit = 0xFFFFFFFFu;
                            QTest::mouseClick(widget(main, IDC_BTN_ITEMS), Qt::LeftButton);
                            ASSERT_TRUE(waitFor([&] { return main.m_permCount == 2; }));
                            CString caption;
                            main.m_permBoxes[1]->GetWindowText(caption);
                            EXPECT_EQ(caption.str(), cp("运动控制"));
                            EXPECT_EQ(main.m_editMode, ModeBrowse);
                            main.SendMessage(WM_CLOSE);
                        },
                        [&](CDialog& other) {
                            auto* editor = dynamic_cast<CAdvanceDlg*>(&other);
                            ASSERT_NE(editor, nullptr);
                            ++editors;
                            waitFor([&] { return QApplication::activeWindow() == widget(editor); });
                            EXPECT_EQ(editor->GetParent(), &dlg);
                            typeInto(*editor, 1, 1, "motion");
                            typeInto(*editor, 1, 2, "运动控制");
                            // Still open: the panel waits for the editor to close.
                            QTest::qWait(20);
                            EXPECT_EQ(dlg.m_permCount, 1);
                            widget(editor)->close();
                        }});
    EXPECT_EQ(editors, 1);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, cp("权限不够，不能设置权限项."));
    EXPECT_EQ(boxes.shown()[0].caption, cp("提示"));
    EXPECT_EQ(boxes.shown()[0].type, kNotice);
    EXPECT_EQ(boxes.shown()[0].owner, mainWnd);
}

TEST_F(ItemEditorTest, ClosingTellsTheOwnerOnlyAfterAChange) {
    addItems(1);
    MessageBoxScript boxes;
    boxes.expect(IDYES);
    int limitsChanged = 0;
    CrolvaneDlg dlg;
    int run = 0;
    runMainDialog(dlg,
                  {[](CLoginDlg& login) { loginAs(login, "root", "pw"); },
                   [&](CrolvaneDlg& main) {
                       // Once without a change, once adding and deleting again.
                       for (run = 0; run < 2; ++run) {
                           const size_t before = fakestore::calls().size();
                           main.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_BTN_ITEMS, BN_CLICKED), 0);
                           QTest::qWait(20);
                           // The panel is rebuilt from a fresh listing.
                           for (size_t i = before; i < fakestore::calls().size(); ++i)
                               if (fakestore::calls()[i] == "get_limit_list(null)") ++limitsChanged;
                       }
                       main.SendMessage(WM_CLOSE);
                   },
                   [&](CDialog& other) {
                       auto& editor = static_cast<CAdvanceDlg&>(other);
                       waitFor([&] { return QApplication::activeWindow() == widget(&editor); });
                       if (run == 1) {
                           typeInto(editor, 2, 1, "tmp");
                           typeInto(editor, 2, 2, "Tmp");
                           rightClick(editor, 0, ID_USER_DELETE);
                       }
                       widget(&editor)->close();
                   }});
    // The editor lists once per opening; the panel once after the change.
    EXPECT_EQ(limitsChanged, 3);
}

// What an operator sees, with the edit box open over the entry row's name.
// Set ROLVANE_SCREENSHOT_DIR to keep the picture.
TEST_F(ItemEditorTest, EditorIsDrawnWithTheEditBoxOverTheCell) {
    fakestore::script().items.push_back(fakestore::item("motion", cp("运动控制").c_str()));
    CAdvanceDlg dlg;
    runEditor(dlg, [](CAdvanceDlg& d) {
        QTest::mouseDClick(viewOf(d)->viewport(), Qt::LeftButton, {}, cellCenter(d, 2, 1));
        ASSERT_TRUE(waitFor([] { return qobject_cast<QLineEdit*>(QApplication::focusWidget()); }));
        QWidget* edit = QApplication::focusWidget();
        QTest::sendKeyEvent(QTest::Click, widget(&d)->windowHandle(), Qt::Key_unknown,
                            QStringLiteral("io"), Qt::NoModifier);
        const QImage image = widget(&d)->grab().toImage();
        const QByteArray dir = qgetenv("ROLVANE_SCREENSHOT_DIR");
        if (!dir.isEmpty()) image.save(QString::fromLocal8Bit(dir) + "/itemdlg.png");
        // The dialog's own background shows left of the list.
        EXPECT_EQ(QColor(image.pixel(1, image.height() / 2)), QColor(244, 244, 244));
        // The edit box stands exactly on the cell and shows the typed text.
        CRect cell;
        d.m_list.GetSubItemRect(2, 1, LVIR_BOUNDS, cell);
        const QRect onDialog(edit->mapTo(widget(&d), QPoint(0, 0)), edit->size());
        EXPECT_EQ(onDialog.size(), QSize(cell.Width(), cell.Height()));
        EXPECT_EQ(onDialog.topLeft(),
                  viewOf(d)->viewport()->mapTo(widget(&d), QPoint(cell.left, cell.top)));
        const QRgb paper = image.pixel(onDialog.right() - 3, onDialog.center().y());
        int ink = 0;
        for (int x = onDialog.left() + 2; x < onDialog.left() + 30; ++x)
            for (int y = onDialog.top() + 2; y < onDialog.bottom() - 1; ++y)
                ink += image.pixel(x, y) != paper;
        EXPECT_GT(ink, 10);
        QTest::keyClick(widget(&d)->windowHandle(), Qt::Key_Escape);
    });
}

}  // namespace
