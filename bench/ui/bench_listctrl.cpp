// Filling a visible list with 100,000 rows of four columns, as a reload of
// a large user list does, then painting it once.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "handle.h"

namespace {

constexpr int kRows = 100000;

// A shown top-level window holding the list under test.
class Host : public CWnd {
public:
    Host() {
        auto* widget = new QWidget;  // deleted through DestroyWindow
        widget->resize(640, 480);
        ui::detail::createHandle(widget, this, 0, WS_POPUP | WS_CAPTION, ui::ControlKind::Static);
        widget->show();
    }
    ~Host() override { DestroyWindow(); }
};

QApplication& app() {
    static int argc = 1;
    static char name[] = "bench_listctrl";
    static char* argv[] = {name, nullptr};
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication s_app(argc, argv);
    return s_app;
}

void BM_InsertRows(benchmark::State& state) {
    app();
    Host host;
    CListCtrl list;
    list.Create(WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT, CRect(5, 5, 635, 475), &host, 100);
    list.InsertColumn(0, "No", LVCFMT_LEFT, 60);
    list.InsertColumn(1, "Name", LVCFMT_LEFT, 200);
    list.InsertColumn(2, "Level", LVCFMT_LEFT, 120);
    list.InsertColumn(3, "Bits", LVCFMT_LEFT, 220);
    list.SetExtendedStyle(LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    QCoreApplication::processEvents();

    std::vector<std::string> names(kRows), numbers(kRows);
    for (int i = 0; i < kRows; ++i) {
        numbers[std::size_t(i)] = std::to_string(i + 1);
        names[std::size_t(i)] = "\xd3\xc3\xbb\xa7" + std::to_string(i);  // "用户" + i
    }

    for (auto _ : state) {
        list.DeleteAllItems();
        for (int i = 0; i < kRows; ++i) {
            list.InsertItem(i, numbers[std::size_t(i)].c_str());
            list.SetItemText(i, 1, names[std::size_t(i)].c_str());
            list.SetItemText(i, 2, "Level_1");
            list.SetItemText(i, 3, "10100000");
        }
        // Lay out and paint what is visible, as the next event loop turn would.
        QCoreApplication::processEvents();
        ui::detail::widgetOf(&list)->repaint();
    }
    if (list.GetItemCount() != kRows) state.SkipWithError("rows lost");
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_InsertRows)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace
