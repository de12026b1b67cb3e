// The main dialog's FillUserList over a real store of 100,000 users: the
// two-call listing and the list fill as the program makes them, against the
// raw limit of reading the same rows with plain SQLite.
#include <sqlite3.h>

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/compare.h"
#include "common/users.h"
#include "shelldlg/logindlg.h"
#include "ui/app.h"
#include "ui/testing.h"
#include "userdlg/rolvanedlg.h"

namespace {

constexpr int kUsers = 100000;
CWinApp g_app;
CrolvaneDlg* g_dlg = nullptr;
std::string g_path;

void BM_RawScan(benchmark::State& state) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(g_path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    std::vector<bench::RawRecord> recs;
    for (auto _ : state) benchmark::DoNotOptimize(bench::rawScan(db, recs));
    sqlite3_close(db);
    if (recs.size() != kUsers) state.SkipWithError("rows missing");
}
BENCHMARK(BM_RawScan)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// The call alone: rows are in the list, the view hears of them later.
void BM_FillUserList(benchmark::State& state) {
    for (auto _ : state) g_dlg->FillUserList();
    QCoreApplication::processEvents();
    if (g_dlg->m_userList.GetItemCount() != kUsers) state.SkipWithError("rows missing");
}
BENCHMARK(BM_FillUserList)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// The call and the event loop turn after it: the view lays the rows out and
// paints what shows.
void BM_FillUserListShown(benchmark::State& state) {
    for (auto _ : state) {
        g_dlg->FillUserList();
        QCoreApplication::processEvents();
    }
    if (g_dlg->m_userList.GetItemCount() != kUsers) state.SkipWithError("rows missing");
}
BENCHMARK(BM_FillUserListShown)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string folder = bench::tempFolder();
    setenv("TRAILBOOK_SOCKET", (folder + "/no-log").c_str(), 1);
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    g_path = folder + "/fill.db";
    std::printf("making a store of %d users...\n", kUsers);
    bench::makeStore(g_path, kUsers);

    CrolvaneDlg dlg;
    g_dlg = &dlg;
    const bench::CompareReporter* results = nullptr;
    // The login is let through unasked; the main dialog runs the benchmarks
    // from inside its modal loop, as the program fills its list.
    ui::SetModalHook([&](ui::ModalKind kind, CWnd* wnd) {
        if (kind != ui::ModalKind::Dialog) return;
        if (auto* login = dynamic_cast<CLoginDlg*>(wnd)) {
            login->EndDialog(IDOK);
        } else if (wnd == &dlg) {
            QTimer::singleShot(0, [&] {
                results = &bench::runAll(argc, argv);
                dlg.EndDialog(IDOK);
            });
        }
    });
    g_app.m_pMainWnd = &dlg;
    dlg.DoModal();
    g_app.m_pMainWnd = nullptr;
    if (!results) return 1;
    std::printf("\n");
    results->printRatio("FillUserList, 100k users", "BM_RawScan", "BM_FillUserList", true, "<= 2x");
    results->printRatio("FillUserList + paint, 100k", "BM_RawScan", "BM_FillUserListShown", true,
                        "<= 2x");
    return 0;
}
