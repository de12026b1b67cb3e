// Message boxes: the replaceable presenter that tests script, and the real
// modal box with the icon and buttons asked for, answered from inside its loop.
#include <QAbstractButton>
#include <QMessageBox>
#include <QtTest>
#include <memory>
#include <vector>

#include "modal.h"
#include "ui_test_support.h"

namespace {

const char* const kNotice = "\xcc\xe1\xca\xbe";  // 提示
const char* const kUser = "\xd3\xc3\xbb\xa7";    // 用户

}  // namespace

class TestMsgBox : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void presenterRecordsAndAnswersFromScript();
    void installingReturnsThePreviousPresenter();
    void realBoxShowsIconButtonsAndPlainText();
    void realBoxAnswersButtonsAndKeys_data();
    void realBoxAnswersButtonsAndKeys();
    void realBoxWithoutOwner();

private:
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

    std::unique_ptr<uitest::Watchdog> m_watchdog;
    std::unique_ptr<uitest::HostWindow> m_host;
};

void TestMsgBox::init() {
    m_watchdog = std::make_unique<uitest::Watchdog>();
    m_host = std::make_unique<uitest::HostWindow>();
    QVERIFY(m_host->showAndWait());
}

void TestMsgBox::cleanup() {
    ui::SetModalHook({});
    ui::SetMessageBoxPresenter({});
    uitest::Watchdog::closeModals();
    m_host.reset();
    QVERIFY(!m_watchdog->fired());
    m_watchdog.reset();
    QVERIFY(uitest::noWindowLeft());
}

void TestMsgBox::presenterRecordsAndAnswersFromScript() {
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

    QCOMPARE(m_host->MessageBox(kUser, kNotice, MB_YESNO | MB_ICONINFORMATION), IDYES);
    QCOMPARE(m_host->MessageBox("second", kNotice, MB_YESNO), IDNO);
    QCOMPARE(m_host->MessageBox("third"), IDOK);
    QVERIFY(!modalSeen);  // no real box was shown

    QCOMPARE(seen.size(), std::size_t(3));
    QCOMPARE(seen[0].owner, m_host->GetSafeHwnd());
    QCOMPARE(QByteArray::fromStdString(seen[0].text), QByteArray(kUser));
    QCOMPARE(QByteArray::fromStdString(seen[0].caption), QByteArray(kNotice));
    QCOMPARE(seen[0].type, MB_YESNO | MB_ICONINFORMATION);
    // No caption given: the default title.
    QCOMPARE(seen[2].caption, std::string("Error"));
    QCOMPARE(seen[2].type, MB_OK);
}

void TestMsgBox::installingReturnsThePreviousPresenter() {
    ui::SetMessageBoxPresenter([](const ui::MessageBoxRequest&) { return 41; });
    ui::MessageBoxPresenter previous =
        ui::SetMessageBoxPresenter([](const ui::MessageBoxRequest&) { return 42; });
    QVERIFY(bool(previous));
    QCOMPARE(previous(ui::MessageBoxRequest{}), 41);
    QCOMPARE(m_host->MessageBox("x"), 42);
    ui::SetMessageBoxPresenter(previous);
    QCOMPARE(m_host->MessageBox("x"), 41);
}

void TestMsgBox::realBoxShowsIconButtonsAndPlainText() {
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
    const std::string text = std::string(kUser) + " <b>not bold</b>";
    QCOMPARE(m_host->MessageBox(text.c_str(), kNotice, MB_YESNO | MB_ICONQUESTION), IDNO);
    QCOMPARE(seen.icon, QMessageBox::Question);
    QCOMPARE(seen.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(seen.labels, QStringList({"是(&Y)", "否(&N)"}));
    QCOMPARE(seen.title, QStringLiteral("提示"));
    // The program's text is shown as it is, never as markup.
    QCOMPARE(seen.text, QStringLiteral("用户 <b>not bold</b>"));
    QCOMPARE(seen.format, Qt::PlainText);
    QCOMPARE(seen.parent, m_host->widget());
    QCOMPARE(seen.owner, static_cast<CWnd*>(m_host.get()));
    QVERIFY(seen.modal);

    const std::pair<UINT, QMessageBox::Icon> icons[] = {
        {MB_ICONERROR, QMessageBox::Critical},
        {MB_ICONWARNING, QMessageBox::Warning},
        {MB_ICONINFORMATION, QMessageBox::Information},
        {0, QMessageBox::NoIcon},
    };
    for (const auto& [flag, icon] : icons) {
        QMessageBox::Icon shown = QMessageBox::Question;
        QString label;
        onBox([&](QMessageBox* box, CWnd*) {
            shown = box->icon();
            label = box->button(QMessageBox::Ok)->text();
            box->button(QMessageBox::Ok)->click();
        });
        QCOMPARE(m_host->MessageBox("x", "y", MB_OK | flag), IDOK);
        QCOMPARE(shown, icon);
        QCOMPARE(label, QStringLiteral("确定"));
    }
}

void TestMsgBox::realBoxAnswersButtonsAndKeys_data() {
    QTest::addColumn<uint>("type");
    QTest::addColumn<int>("key");     // 0: click `button` instead
    QTest::addColumn<int>("button");  // QMessageBox::StandardButton
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("buttonCount");

    QTest::newRow("ok, Return") << uint(MB_OK) << int(Qt::Key_Return) << 0 << IDOK << 1;
    QTest::newRow("ok, Escape") << uint(MB_OK) << int(Qt::Key_Escape) << 0 << IDOK << 1;
    QTest::newRow("okcancel, Escape")
        << uint(MB_OKCANCEL) << int(Qt::Key_Escape) << 0 << IDCANCEL << 2;
    QTest::newRow("okcancel, Return") << uint(MB_OKCANCEL) << int(Qt::Key_Return) << 0 << IDOK << 2;
    QTest::newRow("yesno, Return is yes")
        << uint(MB_YESNO) << int(Qt::Key_Return) << 0 << IDYES << 2;
    QTest::newRow("yesnocancel, cancel")
        << uint(MB_YESNOCANCEL) << 0 << int(QMessageBox::Cancel) << IDCANCEL << 3;
    QTest::newRow("yesnocancel, no")
        << uint(MB_YESNOCANCEL) << 0 << int(QMessageBox::No) << IDNO << 3;
}

void TestMsgBox::realBoxAnswersButtonsAndKeys() {
    QFETCH(uint, type);
    QFETCH(int, key);
    QFETCH(int, button);
    QFETCH(int, answer);
    QFETCH(int, buttonCount);
    int shownButtons = 0;
    onBox([&](QMessageBox* box, CWnd*) {
        shownButtons = int(box->buttons().size());
        if (key)
            QTest::keyClick(box, Qt::Key(key));
        else
            box->button(QMessageBox::StandardButton(button))->click();
    });
    QCOMPARE(m_host->MessageBox("question?", "caption", type), answer);
    QCOMPARE(shownButtons, buttonCount);
}

void TestMsgBox::realBoxWithoutOwner() {
    QWidget* parent = m_host->widget();
    onBox([&](QMessageBox* box, CWnd*) {
        parent = box->parentWidget();
        box->button(QMessageBox::Ok)->click();
    });
    QCOMPARE(ui::detail::presentMessageBox({nullptr, "alone", "caption", MB_OK}), IDOK);
    QCOMPARE(parent, static_cast<QWidget*>(nullptr));
}

QTEST_MAIN(TestMsgBox)
#include "test_msgbox.moc"
