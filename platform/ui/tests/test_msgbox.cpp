// Message boxes: the replaceable presenter that tests script, and the real
// modal box with the icon and buttons asked for, answered from inside its loop.
#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <memory>
#include <vector>

#include "modal.h"
#include "ui_test.h"

namespace {

const char* const kNotice = "\xcc\xe1\xca\xbe";  // 提示
const char* const kUser = "\xd3\xc3\xbb\xa7";    // 用户
// 用户权限管理的提示信息: a caption longer than its text
const char* const kLongCaption =
    "\xd3\xc3\xbb\xa7\xc8\xa8\xcf\xde\xb9\xdc\xc0\xed\xb5\xc4\xcc\xe1\xca\xbe\xd0\xc5\xcf\xa2";

}  // namespace

class MsgBox : public uitest::CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        m_host = std::make_unique<uitest::HostWindow>();
        ASSERT_TRUE(m_host->showAndWait());
    }
    void TearDown() override {
        m_host.reset();
        CoreTest::TearDown();
    }

    // Runs `onBox` with the shown box from inside its modal loop.
    void onBox(std::function<void(QMessageBox* box, CWnd* owner)> onBox) {
        ui::SetModalHook([onBox](ui::ModalKind kind, CWnd* owner) {
            if (kind != ui::ModalKind::MessageBox) return;
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            onBox(box, owner);
            // Whatever the callback did, the box does not stay open.
            if (box->isVisible()) box->done(0);
        });
    }

    std::unique_ptr<uitest::HostWindow> m_host;
};

TEST_F(MsgBox, PresenterRecordsAndAnswersFromScript) {
    std::vector<ui::MessageBoxRequest> seen;
    std::vector<int> script{IDYES, IDNO, IDOK};
    ui::SetMessageBoxPresenter([&](const ui::MessageBoxRequest& r) {
        seen.push_back(r);
        const int answer = script.front();
        script.erase(script.begin());
        return answer;
    });
    bool modalSeen = false;
    ui::SetModalHook([&](ui::ModalKind, CWnd*) { modalSeen = true; });
    ui::SetModalEndHook([&](ui::ModalKind, CWnd*) { modalSeen = true; });

    EXPECT_EQ(m_host->MessageBox(kUser, kNotice, MB_YESNO | MB_ICONINFORMATION), IDYES);
    EXPECT_EQ(m_host->MessageBox("second", kNotice, MB_YESNO), IDNO);
    EXPECT_EQ(m_host->MessageBox("third"), IDOK);
    EXPECT_FALSE(modalSeen);  // no real box was shown

    ASSERT_EQ(seen.size(), std::size_t(3));
    EXPECT_EQ(seen[0].owner, m_host->GetSafeHwnd());
    EXPECT_EQ(QByteArray::fromStdString(seen[0].text), QByteArray(kUser));
    EXPECT_EQ(QByteArray::fromStdString(seen[0].caption), QByteArray(kNotice));
    EXPECT_EQ(seen[0].type, MB_YESNO | MB_ICONINFORMATION);
    // No caption given: the default title.
    EXPECT_EQ(seen[2].caption, std::string("Error"));
    EXPECT_EQ(seen[2].type, MB_OK);
}

TEST_F(MsgBox, InstallingReturnsThePreviousPresenter) {
    ui::SetMessageBoxPresenter([](const ui::MessageBoxRequest&) { return 41; });
    ui::MessageBoxPresenter previous =
        ui::SetMessageBoxPresenter([](const ui::MessageBoxRequest&) { return 42; });
    EXPECT_TRUE(bool(previous));
    EXPECT_EQ(previous(ui::MessageBoxRequest{}), 41);
    EXPECT_EQ(m_host->MessageBox("x"), 42);
    ui::SetMessageBoxPresenter(previous);
    EXPECT_EQ(m_host->MessageBox("x"), 41);
}

TEST_F(MsgBox, RealBoxShowsIconButtonsAndPlainText) {
    struct Seen {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        QStringList labels;
        QString title, text;
        Qt::TextFormat format = Qt::AutoText;
        QWidget* parent = nullptr;
        CWnd* owner = nullptr;
        bool modal = false;
    } seen;
    onBox([&](QMessageBox* box, CWnd* owner) {
        seen = {box->icon(),
                box->standardButtons(),
                {box->button(QMessageBox::Yes)->text(), box->button(QMessageBox::No)->text()},
                box->windowTitle(),
                box->text(),
                box->textFormat(),
                box->parentWidget(),
                owner,
                box->isModal()};
        box->button(QMessageBox::No)->click();
    });
    // The end hook hears of the box once it is gone, naming its owner.
    std::vector<CWnd*> ended;
    ui::SetModalEndHook([&](ui::ModalKind kind, CWnd* owner) {
        EXPECT_EQ(kind, ui::ModalKind::MessageBox);
        if (!QApplication::activeModalWidget()) ended.push_back(owner);
    });
    const std::string text = std::string(kUser) + " <b>not bold</b>";
    EXPECT_EQ(m_host->MessageBox(text.c_str(), kNotice, MB_YESNO | MB_ICONQUESTION), IDNO);
    EXPECT_EQ(ended, std::vector<CWnd*>{m_host.get()});
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(seen.labels, QStringList({"是(&Y)", "否(&N)"}));
    EXPECT_EQ(seen.title, QStringLiteral("提示"));
    // The program's text is shown as it is, never as markup.
    EXPECT_EQ(seen.text, QStringLiteral("用户 <b>not bold</b>"));
    EXPECT_EQ(seen.format, Qt::PlainText);
    EXPECT_EQ(seen.parent, m_host->widget());
    EXPECT_EQ(seen.owner, static_cast<CWnd*>(m_host.get()));
    EXPECT_TRUE(seen.modal);

    const std::pair<UINT, QMessageBox::Icon> icons[] = {
        {MB_ICONERROR, QMessageBox::Critical},
        {MB_ICONWARNING, QMessageBox::Warning},
        {MB_ICONINFORMATION, QMessageBox::Information},
        {0, QMessageBox::NoIcon},
    };
    for (const auto& [flag, icon] : icons) {
        QMessageBox::Icon shown = QMessageBox::Question;
        QString label, iconName;
        int spare = 0;  // room beside the caption for the title bar's icon and buttons
        onBox([&](QMessageBox* box, CWnd*) {
            shown = box->icon();
            label = box->button(QMessageBox::Ok)->text();
            iconName = box->findChild<QLabel*>("qt_msgboxex_icon_label")->accessibleName();
            spare = (box->width() - box->fontMetrics().horizontalAdvance(box->windowTitle())) /
                    box->fontMetrics().height();
            box->button(QMessageBox::Ok)->click();
        });
        EXPECT_EQ(m_host->MessageBox("x", kLongCaption, MB_OK | flag), IDOK);
        EXPECT_EQ(shown, icon);
        EXPECT_EQ(label, QStringLiteral("确定"));
        EXPECT_EQ(iconName.isEmpty(), icon == QMessageBox::NoIcon) << iconName.toStdString();
        EXPECT_GE(spare, 4) << "the caption does not fit beside the title bar's buttons";
    }
}

// A box is as wide as its text or its caption needs, whichever is more, and
// a text too long for a reasonable width wraps: nothing is cut off.
TEST_F(MsgBox, RealBoxShowsItsWholeTextAndCaption) {
    const QString longCaption = QStringLiteral("用户权限管理的提示信息");
    struct Case {
        const char* name;
        QString text;
        QString caption;
        bool wraps;  // too long for one line of a reasonable width
    } cases[] = {
        {"text wider than its caption",
         QStringLiteral("确认删除此用户吗？用户名：操作员操作员操作员操作员操作员A"),
         QStringLiteral("提示"), false},
        {"caption wider than its text", QStringLiteral("x"), longCaption, false},
        {"short text, short caption", QStringLiteral("未知错误，请联系管理员."),
         QStringLiteral("登录失败"), false},
        {"a long Chinese text", QStringLiteral("无此权限..请联系系统管理员").repeated(6),
         QStringLiteral("提示"), true},
        {"a long English text",
         QStringLiteral("The permission item could not be added; check the name and title. ")
             .repeated(3),
         QStringLiteral("Information"), true},
        {"lines", QStringLiteral("first line\nsecond line\nthird"), QStringLiteral("Notice"),
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QStringList unfit;
        int width = 0, captionNeed = 0, screenWidth = 0;
        bool wrapped = false;
        onBox([&](QMessageBox* box, CWnd*) {
            unfit = uitest::unfitTexts(box);
            width = box->width();
            captionNeed = box->fontMetrics().horizontalAdvance(box->windowTitle()) +
                          4 * box->fontMetrics().height();
            screenWidth = box->screen()->availableGeometry().width();
            wrapped = box->findChild<QLabel*>("qt_msgbox_label")->wordWrap();
            box->button(QMessageBox::Ok)->click();
        });
        m_host->MessageBox(uitest::cp936(c.text.toUtf8().constData()).c_str(),
                           uitest::cp936(c.caption.toUtf8().constData()).c_str(),
                           MB_OK | MB_ICONWARNING);
        EXPECT_TRUE(unfit.isEmpty()) << unfit.join('\n').toStdString();
        EXPECT_GE(width, captionNeed);
        if (c.wraps) {
            EXPECT_TRUE(wrapped);
        }
        EXPECT_LE(width, screenWidth / 2 + 150) << "wraps at a reasonable width";
    }
}

TEST_F(MsgBox, RealBoxAnswersButtonsAndKeys) {
    struct Case {
        const char* name;
        UINT type;
        int key;     // 0: click `button` instead
        int button;  // QMessageBox::StandardButton
        int answer;
        int buttonCount;
    };
    const Case cases[] = {
        {"ok, Return", MB_OK, Qt::Key_Return, 0, IDOK, 1},
        {"ok, Escape", MB_OK, Qt::Key_Escape, 0, IDOK, 1},
        {"okcancel, Escape", MB_OKCANCEL, Qt::Key_Escape, 0, IDCANCEL, 2},
        {"okcancel, Return", MB_OKCANCEL, Qt::Key_Return, 0, IDOK, 2},
        {"yesno, Return is yes", MB_YESNO, Qt::Key_Return, 0, IDYES, 2},
        {"yesnocancel, cancel", MB_YESNOCANCEL, 0, QMessageBox::Cancel, IDCANCEL, 3},
        {"yesnocancel, no", MB_YESNOCANCEL, 0, QMessageBox::No, IDNO, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int shownButtons = 0;
        onBox([&](QMessageBox* box, CWnd*) {
            shownButtons = int(box->buttons().size());
            if (c.key)
                QTest::keyClick(box, Qt::Key(c.key));
            else
                box->button(QMessageBox::StandardButton(c.button))->click();
        });
        EXPECT_EQ(m_host->MessageBox("question?", "caption", c.type), c.answer);
        EXPECT_EQ(shownButtons, c.buttonCount);
    }
}

TEST_F(MsgBox, RealBoxWithoutOwner) {
    QWidget* parent = m_host->widget();
    onBox([&](QMessageBox* box, CWnd*) {
        parent = box->parentWidget();
        box->button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(ui::detail::presentMessageBox({nullptr, "alone", "caption", MB_OK}), IDOK);
    EXPECT_EQ(parent, static_cast<QWidget*>(nullptr));
}
