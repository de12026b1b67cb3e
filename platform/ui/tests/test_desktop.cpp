// Named locks, window look-up and raising, with real processes: this binary
// re-runs itself with "--child ROLE ..." for the other copy of the program.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "ui/framework.h"
#include "ui/testing.h"

namespace {

// Window titles as the program passes them: CP936 bytes.
const char kLoginTitle[] =
    "\xb5\xc7\xc2\xbd -\xd3\xc3\xbb\xa7\xc8\xa8\xcf\xde\xb9\xdc\xc0\xed";  // 登陆 -用户权限管理
const char kMainTitle[] =
    "\xd3\xc3\xbb\xa7\xc8\xa8\xcf\xde\xb9\xdc\xc0\xed v2.0";  // 用户权限管理 v2.0
const char kLoginTitleUtf8[] =
    "\xe7\x99\xbb\xe9\x99\x86 "
    "-\xe7\x94\xa8\xe6\x88\xb7\xe6\x9d\x83\xe9\x99\x90\xe7\xae\xa1\xe7\x90\x86";
constexpr int kTemplateId = 9100;
constexpr int kExitLockWasHeld = 20;  // a holder found the lock taken
constexpr int kExitLockWasFree = 21;  // a seeker found no running copy

void say(const char* line) {
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void registerDialog(const char* caption) {
    ui::RegisterDialog({kTemplateId,
                        caption,
                        160,
                        60,
                        "MS Shell Dlg",
                        9,
                        WS_POPUP | WS_CAPTION | DS_MODALFRAME,
                        {}});
}

// ---- the other copy ---------------------------------------------------------

// Takes the lock, shows the dialog minimised and reports once a raise
// request has restored and activated it.
int childHold(const char* name, const QByteArray& title) {
    if (OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name)) return kExitLockWasHeld;
    CreateMutexA(nullptr, FALSE, name);
    registerDialog(title.constData());
    CDialog dialog(kTemplateId);
    QTimer watch;
    ui::SetModalHook([&](ui::ModalKind kind, CWnd*) {
        QWidget* window = QApplication::activeModalWidget();
        if (kind != ui::ModalKind::Dialog || !window) return;
        window->showMinimized();
        QObject::connect(&watch, &QTimer::timeout, [window, &watch] {
            if (!window->isMinimized() && QApplication::activeWindow() == window) {
                say("RAISED");
                watch.stop();
            }
        });
        watch.start(20);
        say("READY");
    });
    dialog.DoModal();
    return 0;
}

// Does what a second copy of the program does, and reports what it found.
int childSeek(const char* name, const QByteArray& title) {
    QElapsedTimer clock;
    clock.start();
    if (!OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name)) return kExitLockWasFree;
    say(FindWindowA("Edit", title.constData()) ? "WRONG CLASS FOUND" : "WRONG CLASS NONE");
    HWND hWnd = FindWindowA("#32770", title.constData());
    say(hWnd ? "FOUND" : "NONE");
    if (hWnd) SwitchToThisWindow(hWnd, TRUE);
    say(("ELAPSED " + std::to_string(clock.elapsed())).c_str());
    return 0;
}

int childRole(int argc, char** argv) {
    const std::string role = argv[2];
    const char* name = argc > 3 ? argv[3] : "";
    const QByteArray title = argc > 4 ? QByteArray::fromHex(argv[4]) : QByteArray();
    if (role == "probe") {
        say(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name) ? "HELD" : "FREE");
        return 0;
    }
    if (role == "mute") {  // holds the lock, serves nothing
        if (OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name)) return kExitLockWasHeld;
        say("READY");
        std::this_thread::sleep_for(std::chrono::minutes(1));
        return 0;
    }
    QApplication app(argc, argv);
    if (role == "frozen") {  // listens, but its event loop never runs
        if (OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name)) return kExitLockWasHeld;
        CreateMutexA(nullptr, FALSE, name);
        say("READY");
        std::this_thread::sleep_for(std::chrono::minutes(1));
        return 0;
    }
    if (role == "hold") return childHold(name, title);
    if (role == "seek") return childSeek(name, title);
    return 2;
}

// ---- the test side ----------------------------------------------------------

class Child {
public:
    Child(const QString& role, const QString& name, const QByteArray& title = {},
          const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QCoreApplication::applicationFilePath(),
                        {"--child", role, name, QString::fromLatin1(title.toHex())});
    }
    ~Child() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Waits for a whole output line; false on timeout or exit.
    bool waitForLine(const QByteArray& line, int timeoutMs = 10000) {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            m_output += m_process.readAllStandardOutput();
            if (m_output.split('\n').contains(line)) return true;
            const qint64 left = timeoutMs - clock.elapsed();
            if (left <= 0 || m_process.state() == QProcess::NotRunning) return false;
            m_process.waitForReadyRead(int(std::min<qint64>(left, 200)));
        }
    }
    // Exit code after a normal end, -1 on a crash or a hang.
    int finish(int timeoutMs = 10000) {
        if (!m_process.waitForFinished(timeoutMs) || m_process.exitStatus() != QProcess::NormalExit)
            return -1;
        m_output += m_process.readAllStandardOutput();
        return m_process.exitCode();
    }
    QList<QByteArray> lines() const { return m_output.split('\n'); }
    void killHard() {
        m_process.kill();  // SIGKILL: no clean-up of any kind
        m_process.waitForFinished(5000);
    }

private:
    QProcess m_process;
    QByteArray m_output;
};

qint64 elapsedOf(const QList<QByteArray>& lines) {
    for (const QByteArray& line : lines)
        if (line.startsWith("ELAPSED ")) return line.mid(8).toLongLong();
    return -1;
}

QByteArray probe(const QString& name,
                 const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    Child child("probe", name, {}, env);
    return child.finish() == 0 ? child.lines().value(0) : QByteArray("FAILED");
}

mode_t modeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : mode_t(-1);
}

// Each test gets its own runtime directory (inherited by its children) and
// a mutex name with blanks and dots, as the program's has.
class Desktop : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_base.isValid());
        m_runtime = m_base.path() + "/run";
        ASSERT_TRUE(QDir().mkdir(m_runtime));
        ::chmod(QFile::encodeName(m_runtime).constData(), 0700);
        m_hadRuntime = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
        m_savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime));
        static int serial = 0;
        m_name =
            QString("Desktop Test %1 %2.version 1.0").arg(::getpid()).arg(++serial).toStdString();
    }
    void TearDown() override {
        if (m_hadRuntime)
            qputenv("XDG_RUNTIME_DIR", m_savedRuntime);
        else
            qunsetenv("XDG_RUNTIME_DIR");
        for (QWidget* w : QApplication::topLevelWidgets()) w->close();
    }
    QString name() const { return QString::fromStdString(m_name); }
    QStringList runtimeFiles(const QString& pattern) const {
        return QDir(m_runtime).entryList({pattern},
                                         QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    }

    QTemporaryDir m_base;
    QString m_runtime;
    std::string m_name;
    QByteArray m_savedRuntime;
    bool m_hadRuntime = false;
};

// ---- two copies -------------------------------------------------------------

TEST_F(Desktop, SecondCopyFindsTheFirstCopysDialogAndRaisesIt) {
    Child first("hold", name(), kLoginTitle);
    ASSERT_TRUE(first.waitForLine("READY"));

    Child second("seek", name(), kLoginTitle);
    ASSERT_EQ(second.finish(), 0);
    EXPECT_TRUE(second.lines().contains("WRONG CLASS NONE"));
    ASSERT_TRUE(second.lines().contains("FOUND"));
    EXPECT_TRUE(first.waitForLine("RAISED", 5000)) << "the first copy saw no raise request";

    // Another title is not confused with the dialog's.
    Child third("seek", name(), kMainTitle);
    ASSERT_EQ(third.finish(), 0);
    EXPECT_TRUE(third.lines().contains("NONE"));
}

TEST_F(Desktop, CopyKilledWithSigkillDoesNotBlockTheNextStart) {
    {
        Child first("hold", name(), kLoginTitle);
        ASSERT_TRUE(first.waitForLine("READY"));
        EXPECT_EQ(probe(name()), "HELD");
        first.killHard();
    }
    EXPECT_EQ(runtimeFiles("*.sock").size(), 1) << "the killed copy's socket is left behind";

    // The next copy takes the lock and replaces the dead socket with its own.
    Child next("hold", name(), kMainTitle);
    ASSERT_TRUE(next.waitForLine("READY")) << "the lock of a killed copy blocked the next start";
    Child seeker("seek", name(), kMainTitle);
    ASSERT_EQ(seeker.finish(), 0);
    EXPECT_TRUE(seeker.lines().contains("FOUND"));
    EXPECT_TRUE(next.waitForLine("RAISED", 5000));
}

TEST_F(Desktop, SecondCopyStartingAloneRunsAsTheFirst) {
    Child seeker("seek", name(), kLoginTitle);
    EXPECT_EQ(seeker.finish(), kExitLockWasFree);
}

// A running copy that holds the lock but does not answer costs a later copy
// at most about three seconds, however many look-ups it makes.
TEST_F(Desktop, UnansweringCopyCostsAtMostThreeSeconds) {
    for (const char* role : {"mute", "frozen"}) {
        SCOPED_TRACE(role);
        const QString lockName = name() + role;
        Child holder(role, lockName);
        ASSERT_TRUE(holder.waitForLine("READY"));
        Child seeker("seek", lockName, kLoginTitle);
        ASSERT_EQ(seeker.finish(15000), 0);
        EXPECT_TRUE(seeker.lines().contains("NONE"));
        const qint64 elapsed = elapsedOf(seeker.lines());
        EXPECT_GE(elapsed, 0);
        EXPECT_LT(elapsed, 4000);
    }
}

// ---- lock files -------------------------------------------------------------

TEST_F(Desktop, LockFilesStayInTheRuntimeDirectoryUnderDistinctNames) {
    const std::string held = m_name + " a b.c";
    ASSERT_EQ(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, held.c_str()), nullptr);  // now held here
    ASSERT_EQ(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, ("../../escape/" + m_name).c_str()), nullptr);
    EXPECT_EQ(probe(name() + " a b.c"), "HELD");
    EXPECT_EQ(probe(name() + " a_b.c"), "FREE")
        << "names differing in a replaced character share a lock";
    EXPECT_EQ(probe(name() + " A b.c"), "FREE");

    EXPECT_EQ(runtimeFiles("*.lock").size(), 4);
    EXPECT_EQ(QDir(m_base.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"run"});
    for (const QString& file : runtimeFiles("*.lock")) {
        EXPECT_FALSE(file.startsWith('.')) << file.toStdString();
        EXPECT_EQ(modeOf(m_runtime + '/' + file) & 077, 0u) << file.toStdString();
    }
}

TEST_F(Desktop, WithoutRuntimeDirectoryAPrivateFolderIsUsed) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("XDG_RUNTIME_DIR");
    env.insert("TMPDIR", m_base.path());
    const QString folder = m_base.path() + "/ui-desktop-" + QString::number(::geteuid());

    EXPECT_EQ(probe(name(), env), "FREE");
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(QDir(folder).entryList({"*.lock"}, QDir::Files).size(), 1);

    // A folder left open to others is closed again before use.
    ::chmod(QFile::encodeName(folder).constData(), 0777);
    EXPECT_EQ(probe(name(), env), "FREE");
    EXPECT_EQ(modeOf(folder), 0700u);

    // A runtime directory open to others is not used.
    const QString loose = m_base.path() + "/loose";
    ASSERT_TRUE(QDir().mkdir(loose));
    ::chmod(QFile::encodeName(loose).constData(), 0777);
    env.insert("XDG_RUNTIME_DIR", loose);
    EXPECT_EQ(probe(name() + " 2", env), "FREE");
    EXPECT_TRUE(QDir(loose).isEmpty());
    EXPECT_EQ(QDir(folder).entryList({"*.lock"}, QDir::Files).size(), 2);
}

TEST_F(Desktop, FolderOwnedBySomeoneElseIsRefused) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("XDG_RUNTIME_DIR");
    env.insert("TMPDIR", m_base.path());
    const QString folder = m_base.path() + "/ui-desktop-" + QString::number(::geteuid());
    ASSERT_TRUE(QDir().mkdir(folder));
    if (::chown(QFile::encodeName(folder).constData(), 65534, 65534) != 0)
        GTEST_SKIP() << "changing the owner needs root";
    ::chmod(QFile::encodeName(folder).constData(), 0777);

    // Runs as the only copy rather than trusting a folder another user controls.
    EXPECT_EQ(probe(name(), env), "FREE");
    EXPECT_TRUE(QDir(folder).isEmpty());
}

// ---- the server, spoken to directly -----------------------------------------

class Line {
public:
    explicit Line(const QString& path) { m_socket.connectToServer(path); }
    bool connected() { return m_socket.waitForConnected(2000); }
    // The server runs in this thread: wait with the event loop running.
    QByteArray ask(const QByteArray& request) {
        m_socket.write(request + '\n');
        m_socket.flush();
        return next();
    }
    QByteArray next() {
        if (!QTest::qWaitFor([&] { return m_socket.canReadLine(); }, 3000)) return "<no answer>";
        return m_socket.readLine().trimmed();
    }
    QLocalSocket& socket() { return m_socket; }

private:
    QLocalSocket m_socket;
};

TEST_F(Desktop, ServerRefusesMalformedRequestsAndKeepsServing) {
    ASSERT_EQ(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, m_name.c_str()), nullptr);
    ASSERT_NE(CreateMutexA(nullptr, FALSE, m_name.c_str()), nullptr);
    const QStringList sockets = runtimeFiles("*.sock");
    ASSERT_EQ(sockets.size(), 1);
    const QString path = m_runtime + '/' + sockets.front();
    EXPECT_EQ(modeOf(path) & 077, 0u) << "the socket is open to other users";

    Line line(path);
    ASSERT_TRUE(line.connected());
    const QByteArray dialogClass = "x" + QByteArray("#32770").toHex();
    const QByteArray title = "x" + QByteArray(kLoginTitle).toHex();
    const std::pair<QByteArray, QByteArray> cases[] = {
        {"FIND " + dialogClass + " " + title, "WND 0"},  // no such window here
        {"FIND * *", "WND 0"},
        {"HELLO", "ERR"},
        {"", "ERR"},
        {"FIND", "ERR"},
        {"FIND * * *", "ERR"},
        {"FIND xzz *", "ERR"},
        {"FIND x123 *", "ERR"},
        {"FIND 2333 *", "ERR"},
        {"RAISE", "ERR"},
        {"RAISE abc", "ERR"},
        {"RAISE -1", "ERR"},
        {"RAISE 12345", "NONE"},
        {"RAISE 12345 xzz", "ERR"},
        {"RAISE 12345 x0a0b", "ERR"},  // a token that is no token
    };
    for (const auto& [request, expected] : cases)
        EXPECT_EQ(line.ask(request), expected) << request.constData();

    // Several requests at once: one answer each, in order.
    line.socket().write("HELLO\nFIND * *\n");
    EXPECT_EQ(line.next(), "ERR");
    EXPECT_EQ(line.next(), "WND 0");

    // A line longer than any request ends that connection only.
    Line flood(path);
    ASSERT_TRUE(flood.connected());
    flood.socket().write(QByteArray(100000, 'A'));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return flood.socket().state() == QLocalSocket::UnconnectedState; }, 3000));
    EXPECT_EQ(line.ask("FIND * *"), "WND 0");
    Line after(path);
    ASSERT_TRUE(after.connected());
    EXPECT_EQ(after.ask("FIND * *"), "WND 0");
}

// A peer that sends faster than it reads: the server stops reading while its
// answers wait, and once the peer reads, every request gets its answer.
TEST_F(Desktop, ServerWaitsForAPeerSlowToReadAndAnswersEveryRequest) {
    ASSERT_EQ(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, m_name.c_str()), nullptr);
    ASSERT_NE(CreateMutexA(nullptr, FALSE, m_name.c_str()), nullptr);
    const QStringList sockets = runtimeFiles("*.sock");
    ASSERT_EQ(sockets.size(), 1);
    const QByteArray path = QFile::encodeName(m_runtime + '/' + sockets.front());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(size_t(path.size()), sizeof address.sun_path);
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

    // Far more than the socket buffers hold in either direction.
    constexpr int kRequests = 200000;
    QByteArray requests;
    for (int i = 0; i < kRequests; ++i) requests += "FIND * *\n";
    qsizetype sent = 0;
    const auto sendSome = [&] {
        const ssize_t n =
            ::send(fd, requests.constData() + sent, size_t(requests.size() - sent), MSG_NOSIGNAL);
        if (n > 0) sent += n;
        return n > 0;
    };
    // Without reading, sending stalls: the server has stopped taking requests.
    QElapsedTimer idle;
    idle.start();
    while (idle.elapsed() < 300 && sent < requests.size()) {
        if (sendSome()) idle.restart();
        QCoreApplication::processEvents();
    }
    EXPECT_LT(sent, requests.size()) << "the server kept reading while nobody took its answers";

    QByteArray answers;
    const QByteArray expected = QByteArray("WND 0\n").repeated(kRequests);
    QElapsedTimer clock;
    clock.start();
    while (answers.size() < expected.size() && clock.elapsed() < 20000) {
        if (sent < requests.size()) sendSome();
        char chunk[65536];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n > 0) answers.append(chunk, n);
        if (n == 0) break;
        QCoreApplication::processEvents();
    }
    ::close(fd);
    EXPECT_EQ(sent, requests.size());
    EXPECT_EQ(answers.size(), expected.size());
    EXPECT_TRUE(answers == expected) << "answers lost, doubled or garbled";
}

// ---- windows of this copy ---------------------------------------------------

TEST_F(Desktop, FindsAndRaisesOwnDialogByClassAndCp936Title) {
    registerDialog(kLoginTitle);
    CDialog dialog(kTemplateId);
    QWidget plain;  // not a window of the framework
    plain.setWindowTitle(QString::fromUtf16(u"用户权限管理 v2.0"));
    bool hookRan = false;
    ui::test::Watchdog watchdog(15000);

    ui::SetModalHook([&](ui::ModalKind kind, CWnd*) {
        if (kind != ui::ModalKind::Dialog) return;
        hookRan = true;
        const HWND hWnd = dialog.GetSafeHwnd();
        EXPECT_NE(hWnd, nullptr);
        EXPECT_EQ(FindWindowA("#32770", kLoginTitle), hWnd);
        EXPECT_EQ(FindWindowA(nullptr, kLoginTitle), hWnd);
        EXPECT_EQ(FindWindowA("#32770", nullptr), hWnd);
        EXPECT_EQ(FindWindowA("Edit", kLoginTitle), nullptr);
        EXPECT_EQ(FindWindowA("#32770", kMainTitle), nullptr);
        // The same title in UTF-8 bytes is another title.
        EXPECT_EQ(FindWindowA("#32770", kLoginTitleUtf8), nullptr);

        plain.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&plain));
        EXPECT_EQ(FindWindowA(nullptr, kMainTitle), nullptr) << "a foreign window was reported";

        QWidget* window = QApplication::activeModalWidget();
        if (window) {
            window->showMinimized();
            SwitchToThisWindow(hWnd, TRUE);
            EXPECT_TRUE(QTest::qWaitFor(
                [&] { return !window->isMinimized() && QApplication::activeWindow() == window; },
                3000));
        } else {
            ADD_FAILURE() << "no modal dialog while its loop runs";
        }
        SwitchToThisWindow(nullptr, TRUE);  // nothing to do, nothing to break
        dialog.EndDialog(IDOK);
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    ui::SetModalHook({});
    EXPECT_TRUE(hookRan);
    EXPECT_FALSE(watchdog.fired());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::string(argv[1]) == "--child") return childRole(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
