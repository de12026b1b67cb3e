// Text: CString counts CP936 bytes; window texts cross the Qt boundary
// without loss; edits refuse what CP936 cannot hold; GetWindowText fills a
// caller's buffer safely.
#include <QAccessible>
#include <QInputMethodEvent>
#include <QLineEdit>

#include "cp936.h"
#include "ui_test.h"

namespace {

using ui::detail::encodeCp936;
using uitest::CoreTest;

constexpr int kEditId = 9401;
constexpr int kButtonId = 9402;
constexpr int kStaticId = 9403;

const char* const kUser = "\xd3\xc3\xbb\xa7";      // 用户
const char* const kZhangSan = "\xd5\xc5\xc8\xfd";  // 张三

std::string cp936(const QString& text) {
    bool ok = false;
    std::string bytes = encodeCp936(text, &ok);
    EXPECT_TRUE(ok) << text.toStdString();
    return bytes;
}

TEST(CString, FormatAndLengthCountBytes) {
    CString s;
    s.Format("%s%d", kUser, 12);
    EXPECT_EQ(s, CString("\xd3\xc3\xbb\xa7"
                         "12"));
    EXPECT_EQ(s.GetLength(), 6);

    // Padding counts bytes, as the fixed-width list texts expect.
    s.Format("%-8s|", kUser);
    EXPECT_EQ(s, CString("\xd3\xc3\xbb\xa7    |"));
    EXPECT_EQ(s.GetLength(), 9);

    // Its own text as an argument.
    s = kZhangSan;
    s.Format("[%s]", s.GetString());
    EXPECT_EQ(s, CString("[\xd5\xc5\xc8\xfd]"));

    // Longer than any fixed buffer.
    std::string many;
    for (int i = 0; i < 300; ++i) many += kUser;
    s.Format("%s", many.c_str());
    EXPECT_EQ(s.GetLength(), 1200);
    EXPECT_EQ(s.str(), many);
}

TEST(CString, TrimRemovesOnlyTheOuterCharacters) {
    CString s(" \xd5\xc5 \xc8\xfd  ");
    s.Trim();
    EXPECT_EQ(s, CString("\xd5\xc5 \xc8\xfd"));
    EXPECT_EQ(s.GetLength(), 5);

    CString left("  a "), right("  a ");
    left.TrimLeft();
    right.TrimRight();
    EXPECT_EQ(left, CString("a "));
    EXPECT_EQ(right, CString("  a"));

    CString blank("    ");
    EXPECT_TRUE(blank.Trim().IsEmpty());
    CString dots("..x..");
    EXPECT_EQ(dots.Trim('.'), CString("x"));
}

class Text : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        m_host = std::make_unique<uitest::HostWindow>();
        ASSERT_TRUE(m_edit.Create(WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER,
                                  CRect(10, 10, 300, 36), m_host.get(), kEditId));
        ASSERT_TRUE(m_button.Create("", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON,
                                    CRect(10, 50, 300, 80), m_host.get(), kButtonId));
        ASSERT_TRUE(m_static.Create("", WS_CHILD | WS_VISIBLE, CRect(10, 90, 300, 110),
                                    m_host.get(), kStaticId));
        ASSERT_TRUE(m_host->showAndWait());
    }
    void TearDown() override {
        m_host.reset();
        CoreTest::TearDown();
    }

    QLineEdit* lineEdit() const { return qobject_cast<QLineEdit*>(ui::detail::widgetOf(&m_edit)); }

    std::unique_ptr<uitest::HostWindow> m_host;
    CEdit m_edit;
    CButton m_button;
    CStatic m_static;
};

TEST_F(Text, WindowTextsRoundTripCp936) {
    const QStringList texts = {
        QStringLiteral("用户"),
        // A name that fills a 32-byte field: 15 Chinese characters and one letter.
        QStringLiteral("张三李四王五赵六钱七孙八周九吴A"),
        QStringLiteral("Admin_操作员-01"),
        // Punctuation whose mapping differs between GBK tables, the euro at
        // 0x80, and an extension character whose second byte is '@'.
        QStringLiteral("·—～“”…、。"),
        QStringLiteral("€丂１２３"),
        QString(),
    };
    ASSERT_EQ(cp936(texts[1]).size(), 31u);
    EXPECT_EQ(cp936(QStringLiteral("€")), "\x80");
    EXPECT_EQ(cp936(QStringLiteral("丂")), "\x81\x40");

    for (const QString& unicode : texts) {
        SCOPED_TRACE(unicode.toStdString());
        const std::string bytes = cp936(unicode);
        for (CWnd* wnd :
             std::initializer_list<CWnd*>{&m_edit, &m_button, &m_static, m_host.get()}) {
            wnd->SetWindowText(bytes.c_str());
            CString back;
            wnd->GetWindowText(back);
            EXPECT_EQ(back.str(), bytes);
            EXPECT_EQ(wnd->GetWindowTextLength(), int(bytes.size()));
            char buffer[64];
            EXPECT_EQ(wnd->GetWindowText(buffer, int(sizeof buffer)), int(bytes.size()));
            EXPECT_EQ(std::string(buffer), bytes);
        }
        // Qt shows the characters, not the bytes.
        EXPECT_EQ(lineEdit()->text(), unicode);
    }
}

// Screen readers read a static text as a label named by what it shows.
TEST_F(Text, StaticTextIsAnAccessibleLabel) {
    QAccessibleInterface* iface =
        QAccessible::queryAccessibleInterface(ui::detail::widgetOf(&m_static));
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::StaticText);

    // text set, name read: '&' marks a mnemonic, "&&" is one '&'
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("当前用户：root   级别：Level_4"),
         QStringLiteral("当前用户：root   级别：Level_4")},
        {QStringLiteral("保存(&S)"), QStringLiteral("保存(S)")},
        {QStringLiteral("a&&b&"), QStringLiteral("a&b&")},
        {QString(), QString()},
    };
    for (const auto& [text, name] : cases) {
        SCOPED_TRACE(text.toStdString());
        m_static.SetWindowText(cp936(text).c_str());
        EXPECT_EQ(iface->text(QAccessible::Name), name);
    }
}

// Types text as a keyboard does, one character per key event (QTest's
// keyClicks carries Latin-1 only), or as an input method commits it.
void typeKeys(QWidget* w, const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype n = text.at(i).isHighSurrogate() ? 2 : 1;
        QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, text.mid(i, n), Qt::NoModifier);
        i += n - 1;
    }
}
void commitText(QWidget* w, const QString& text) {
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(w, &event);
}

TEST_F(Text, EditRefusesCharactersCp936CannotHold) {
    m_edit.SetWindowText(kUser);
    QLineEdit* edit = lineEdit();
    edit->setFocus();
    edit->end(false);

    const QString thai(QChar(char16_t(0x0E01)));
    const QString emoji = QString::fromUcs4(U"\U0001F600");
    for (const QString& refused : {thai, emoji}) {
        SCOPED_TRACE(refused.toStdString());
        typeKeys(edit, refused);
        commitText(edit, refused);
        commitText(edit, QStringLiteral("x") + refused);
        EXPECT_EQ(edit->text(), QStringLiteral("用户"));
        CString text;
        m_edit.GetWindowText(text);
        EXPECT_EQ(text, CString(kUser));
    }

    // Chinese, typed or committed, is taken and read back as CP936.
    typeKeys(edit, QStringLiteral("张"));
    commitText(edit, QStringLiteral("三"));
    CString text;
    m_edit.GetWindowText(text);
    EXPECT_EQ(text, CString("\xd3\xc3\xbb\xa7\xd5\xc5\xc8\xfd"));
}

// Limits and positions count CP936 bytes: a Chinese character two, the euro
// sign (0x80) one.
TEST_F(Text, LimitsAndSelectionsCountCp936Bytes) {
    QLineEdit* edit = lineEdit();
    edit->setFocus();
    m_edit.SetLimitText(4);
    struct Case {
        QString typed;
        QString kept;
    } cases[] = {
        {QStringLiteral("ab中"), QStringLiteral("ab中")},
        {QStringLiteral("ab中c"), QStringLiteral("ab中")},
        {QStringLiteral("€€€€€"), QStringLiteral("€€€€")},
        {QStringLiteral("中文字"), QStringLiteral("中文")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        edit->clear();
        typeKeys(edit, c.typed);
        EXPECT_EQ(edit->text(), c.kept);
    }
    m_edit.SetLimitText(0);
    typeKeys(edit, QStringLiteral("abcdef"));
    EXPECT_EQ(edit->text(), QStringLiteral("中文abcdef"));

    // "a€中b": bytes a=0, €=1, 中=2..3, b=4.
    edit->setText(QStringLiteral("a€中b"));
    m_edit.SetSel(1, 4);
    EXPECT_EQ(edit->selectedText(), QStringLiteral("€中"));
    int start = -1, end = -1;
    m_edit.GetSel(start, end);
    EXPECT_EQ(start, 1);
    EXPECT_EQ(end, 4);
    EXPECT_EQ(ui::detail::cp936Length(edit->text()), 5);
}

TEST_F(Text, GetWindowTextFillsTheBufferItIsGiven) {
    m_edit.SetWindowText(
        "\xd3\xc3\xbb\xa7"
        "ab");  // 用户ab, 6 bytes

    auto read = [&](int size) {
        std::string buffer(16, 'x');
        const int n = m_edit.GetWindowText(buffer.data(), size);
        return std::pair{n, buffer};
    };
    auto [full, fullText] = read(7);
    EXPECT_EQ(full, 6);
    EXPECT_EQ(fullText.substr(0, 7), std::string("\xd3\xc3\xbb\xa7"
                                                 "ab\0",
                                                 7));

    auto [cut, cutText] = read(6);
    EXPECT_EQ(cut, 5);
    EXPECT_EQ(cutText.substr(0, 6), std::string("\xd3\xc3\xbb\xa7"
                                                "a\0",
                                                6));

    // Never half of a double-byte character: the store refuses such bytes.
    auto [half, halfText] = read(4);
    EXPECT_EQ(half, 2);
    EXPECT_EQ(halfText.substr(0, 3), std::string("\xd3\xc3\0", 3));

    auto [none, noneText] = read(1);
    EXPECT_EQ(none, 0);
    EXPECT_EQ(noneText[0], '\0');

    auto [zero, zeroText] = read(0);
    EXPECT_EQ(zero, 0);
    EXPECT_EQ(zeroText, std::string(16, 'x')) << "a zero-sized buffer is not written";
    EXPECT_EQ(m_edit.GetWindowText(nullptr, 8), 0);
}

}  // namespace
