// The application object and the process entry.
#include <syslog.h>

#include <QApplication>
#include <QFont>
#include <QRegularExpression>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "cp936.h"
#include "heap.h"
#include "icons.h"
#include "language.h"
#include "modal.h"
#include "report.h"
#include "textfit.h"
#include "trailbook.h"
#include "ui/family_qt.h"

namespace {
CWinApp* g_app = nullptr;
ui::ModalHook& modalHook() {
    static ui::ModalHook s_hook;
    return s_hook;
}
ui::ModalHook& modalEndHook() {
    static ui::ModalHook s_hook;
    return s_hook;
}
}  // namespace

CWinApp::CWinApp(LPCTSTR) {
    g_app = this;
}
CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}
int CWinApp::ExitInstance() {
    return 0;
}
HICON CWinApp::LoadIcon(UINT nIDResource) const {
    return ui::detail::loadIcon(int(nIDResource));
}
void CWinApp::SetRegistryKey(LPCTSTR) {}
void CWinApp::OnHelp() {}

const MsgMap* CWinApp::GetThisMessageMap() {
    static const MsgMapEntry s_entries[] = {{MsgKind::End, 0, 0, 0, MsgSig::v_v, nullptr}};
    static const MsgMap s_map = {&CCmdTarget::GetThisMessageMap, s_entries};
    return &s_map;
}
const MsgMap* CWinApp::GetMessageMap() const {
    return GetThisMessageMap();
}

CWinApp* AfxGetApp() {
    return g_app;
}
void AfxEnableControlContainer() {}

void AfxLogNotice(LPCTSTR lpszLine) {
    ui::detail::reportLine(LOG_NOTICE, ui::detail::decodeCp936(lpszLine ? lpszLine : ""));
}

namespace ui::detail {
void reportLine(int level, const QString& text) {
    const QByteArray line =
        (QCoreApplication::applicationName() + QStringLiteral(": ") + text).toLocal8Bit();
    std::fprintf(stderr, "%s\n", line.constData());
    std::fflush(stderr);
    trailbook_log(level, line.constData());
}
}  // namespace ui::detail
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce) {
    return picce != nullptr;
}

namespace {

const char* programName(const char* argv0) {
    const char* slash = argv0 ? std::strrchr(argv0, '/') : nullptr;
    return slash ? slash + 1 : (argv0 && *argv0 ? argv0 : "program");
}

// --help and --version are answered before the toolkit starts, so they work
// without a display. Qt's own options (-platform ...) pass through.
bool answerOption(const char* name, int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s %s\n", name, UI_PROGRAM_VERSION);
            return true;
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            std::printf(
                "Usage: %s [--help | --version]\n"
                "Opens the program's window on the desktop named by DISPLAY (X11) or\n"
                "WAYLAND_DISPLAY (Wayland). One copy runs per user session: starting it\n"
                "again brings that copy's window to the front.\n"
                "\n"
                "  --help     show this help and exit\n"
                "  --version  show the version and exit\n"
                "\n"
                "In a window, Alt+Space or Alt+- opens its system menu (About ...).\n"
                "The window speaks Simplified Chinese, or English where LC_ALL,\n"
                "LC_MESSAGES or LANG asks for English (LANG=en_US.UTF-8).\n"
                "See %s(1).\n",
                name, name);
            return true;
        }
    }
    return false;
}

// Whether Qt will try X11 or Wayland only, as it does by default, and so
// needs DISPLAY or WAYLAND_DISPLAY. Wayland named outright may still find its
// compositor's default socket, so that case is left to Qt.
bool needsDisplayVariable(int argc, char** argv) {
    QByteArray spec = qgetenv("QT_QPA_PLATFORM");
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0) spec = argv[i + 1];
    for (const QByteArray& entry : spec.split(';')) {
        const QByteArray base = entry.split(':').first().trimmed();
        if (!base.isEmpty() && base != "xcb") return false;
    }
    return true;
}

// scripts/run.sh of the source tree when this program runs from its build
// tree (a folder above it holds CMakeCache.txt, which names the source),
// else empty: only a checkout has the script.
std::string sourceTreeRunScript() {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    if (error) return {};
    for (fs::path dir = exe.parent_path(); dir != dir.root_path(); dir = dir.parent_path()) {
        std::ifstream cache(dir / "CMakeCache.txt");
        if (!cache) continue;
        static const std::string kSource = "CMAKE_HOME_DIRECTORY:INTERNAL=";
        for (std::string line; std::getline(cache, line);) {
            if (line.rfind(kSource, 0) != 0) continue;
            const fs::path script = fs::path(line.substr(kSource.size())) / "scripts" / "run.sh";
            return fs::is_regular_file(script, error) ? script.string() : std::string();
        }
        return {};
    }
    return {};
}

const char* g_programName = "program";
QtMessageHandler g_previousHandler = nullptr;
QList<std::pair<QtMsgType, QString>>* g_heldMessages = nullptr;

// Qt ends a failed start with its own advice and abort(); say what to do
// instead, in one line, and leave with 1.
[[noreturn]] void noDisplay() {
    const QByteArray display = qgetenv("DISPLAY");
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    QByteArray where = "cannot open the display (";
    if (!display.isEmpty()) where += "DISPLAY=" + display + (wayland.isEmpty() ? ")" : ", ");
    if (!wayland.isEmpty()) where += "WAYLAND_DISPLAY=" + wayland + ")";
    if (display.isEmpty() && wayland.isEmpty())
        where = "no display: DISPLAY and WAYLAND_DISPLAY are unset";
    // A display of a kind Qt has no plugin for is a different fault.
    static const QRegularExpression missing(
        QStringLiteral("Could not find the Qt platform plugin \"([^\"]*)\""));
    const auto held = g_heldMessages ? *g_heldMessages : QList<std::pair<QtMsgType, QString>>();
    for (const auto& message : held)
        if (const auto match = missing.match(message.second); match.hasMatch())
            where = "Qt's platform plugin \"" + match.captured(1).toLocal8Bit() +
                    "\" is not installed (for Wayland, the package qt6-wayland)";
    // From a checkout, the script that serves the window without a desktop.
    const std::string script = sourceTreeRunScript();
    const std::string otherwise = script.empty()
                                      ? "start it from one (from another machine: ssh -X)"
                                      : "start it with " + script +
                                            ", which serves the window over VNC when "
                                            "there is none";
    std::fprintf(stderr,
                 "%s: %s; set DISPLAY (X11) or WAYLAND_DISPLAY (Wayland) to a running "
                 "desktop, or %s\n",
                 g_programName, where.constData(), otherwise.c_str());
    std::fflush(stderr);
    std::_Exit(1);
}

// While the platform starts, its complaints are held back: a failed start
// becomes one line, a good one passes them on.
void startupHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) noDisplay();
    if (g_heldMessages)
        g_heldMessages->append({type, text});
    else if (g_previousHandler)
        g_previousHandler(type, context, text);
}

}  // namespace

int AfxWinMain(int argc, char** argv) {
    // First, before Qt and the program allocate: what they allocate later,
    // a large list above all, then lands on huge pages.
    ui::detail::useHugePageHeap();
    g_programName = programName(argc > 0 ? argv[0] : nullptr);
    if (answerOption(g_programName, argc, argv)) return 0;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        needsDisplayVariable(argc, argv))
        noDisplay();

    // Docks and task bars find the desktop entry, and so the icon, by the
    // Wayland app id; on X11 by WM_CLASS, which the entry names.
    QGuiApplication::setDesktopFileName(QStringLiteral(UI_DESKTOP_FILE_NAME));
    static int s_argc = argc;
    QList<std::pair<QtMsgType, QString>> held;
    g_heldMessages = &held;
    g_previousHandler = qInstallMessageHandler(startupHandler);
    QApplication application(s_argc, argv);
    g_heldMessages = nullptr;
    qInstallMessageHandler(g_previousHandler);
    for (const auto& [type, text] : held) qt_message_output(type, QMessageLogContext(), text);

    // Qt's own texts (an edit's context menu) in the program's language.
    ui::detail::installQtTranslation(&application);
    // Qt's own texts in the family of the program's dialogs. Qt also lays
    // out every new edit in the application's font before the edit takes
    // its dialog's, which in another family read a second font at start-up.
    if (const QString family = ui::chineseFamily(); !family.isEmpty()) {
        QFont font = QApplication::font();
        font.setFamily(family);
        QApplication::setFont(font);
    }

    ui::detail::watchTextFit();

    // The program's own dialogs decide when it ends.
    application.setQuitOnLastWindowClosed(false);
    CWinApp* app = AfxGetApp();
    if (!app) return 1;
    int code = 0;
    if (app->InitInstance()) code = application.exec();
    const int exitCode = app->ExitInstance();
    return code != 0 ? code : exitCode;
}

namespace ui {
ModalHook SetModalHook(ModalHook hook) {
    ModalHook previous = std::move(modalHook());
    modalHook() = std::move(hook);
    return previous;
}
ModalHook SetModalEndHook(ModalHook hook) {
    ModalHook previous = std::move(modalEndHook());
    modalEndHook() = std::move(hook);
    return previous;
}
}  // namespace ui

namespace ui::detail {
void runModalHook(ModalKind kind, CWnd* wnd) {
    // A copy: the hook may install another while it runs.
    ModalHook hook = modalHook();
    if (hook) hook(kind, wnd);
}
void runModalEndHook(ModalKind kind, CWnd* wnd) {
    ModalHook hook = modalEndHook();
    if (hook) hook(kind, wnd);
}
}  // namespace ui::detail
