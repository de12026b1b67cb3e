// 100,000 rows of four columns into a shown list, as FillUserList gives
// them (InsertItem, then SetItemText for every column), then the first
// paint; against the anchor: a QTableWidget filled item by item with the
// same texts, then painted the same way.
#include <QApplication>
#include <QTableWidget>
#include <QWidget>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/compare.h"
#include "ui/framework.h"
#include "ui/testing_qt.h"

namespace {

constexpr int kRows = 100000;

// The texts of a user list: number, name (every tenth Chinese), level, bits;
// CP936 as the program gives them.
struct Texts {
    std::vector<std::string> numbers, names;
    Texts() : numbers(kRows), names(kRows) {
        for (int i = 0; i < kRows; ++i) {
            numbers[std::size_t(i)] = (i < 9 ? "0" : "") + std::to_string(i + 1);
            names[std::size_t(i)] = (i % 10 == 9 ? std::string("\xd3\xc3\xbb\xa7")  // 用户
                                                 : std::string("user")) +
                                    std::to_string(i + 1);
        }
    }
    static constexpr const char* kLevel = "\xb2\xd9\xd7\xf7\xd4\xb1";  // 操作员
    static constexpr const char* kBits = "10100000";
};

const Texts& texts() {
    static const Texts s_texts;
    return s_texts;
}

void BM_ListCtrlFill(benchmark::State& state) {
    ui::test::HostWindow host(640, 480);
    host.showAndWait();
    CListCtrl list;
    list.Create(WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT, CRect(5, 5, 635, 475), &host, 100);
    list.InsertColumn(0, "No", LVCFMT_LEFT, 60);
    list.InsertColumn(1, "Name", LVCFMT_LEFT, 200);
    list.InsertColumn(2, "Level", LVCFMT_LEFT, 120);
    list.InsertColumn(3, "Bits", LVCFMT_LEFT, 220);
    list.SetExtendedStyle(LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    QCoreApplication::processEvents();
    const Texts& t = texts();
    for (auto _ : state) {
        list.DeleteAllItems();
        for (int i = 0; i < kRows; ++i) {
            const char* number = t.numbers[std::size_t(i)].c_str();
            list.InsertItem(i, number);
            list.SetItemText(i, 0, number);
            list.SetItemText(i, 1, t.names[std::size_t(i)].c_str());
            list.SetItemText(i, 2, Texts::kLevel);
            list.SetItemText(i, 3, Texts::kBits);
        }
        // Lay out and paint what is visible, as the next event loop turn would.
        QCoreApplication::processEvents();
        ui::test::widget(&list)->repaint();
    }
    if (list.GetItemCount() != kRows) state.SkipWithError("rows lost");
}
BENCHMARK(BM_ListCtrlFill)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_QTableWidgetFill(benchmark::State& state) {
    QWidget window;
    window.resize(640, 480);
    auto* table = new QTableWidget(0, 4, &window);
    table->setGeometry(5, 5, 630, 470);
    window.show();
    QCoreApplication::processEvents();
    // Converted once, outside the timing: the anchor pays for Qt alone.
    const Texts& t = texts();
    std::vector<QString> numbers, names;
    for (int i = 0; i < kRows; ++i) {
        numbers.push_back(QString::fromStdString(t.numbers[std::size_t(i)]));
        names.push_back(QString::fromLocal8Bit(t.names[std::size_t(i)]));
    }
    const QString level = QStringLiteral("level"), bits = QString::fromLatin1(Texts::kBits);
    for (auto _ : state) {
        table->setRowCount(0);
        for (int i = 0; i < kRows; ++i) {
            table->insertRow(i);
            table->setItem(i, 0, new QTableWidgetItem(numbers[std::size_t(i)]));
            table->setItem(i, 1, new QTableWidgetItem(names[std::size_t(i)]));
            table->setItem(i, 2, new QTableWidgetItem(level));
            table->setItem(i, 3, new QTableWidgetItem(bits));
        }
        QCoreApplication::processEvents();
        table->viewport()->repaint();
    }
    if (table->rowCount() != kRows) state.SkipWithError("rows lost");
}
BENCHMARK(BM_QTableWidgetFill)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const auto& r = bench::runAll(argc, argv);
    std::printf("\n");
    r.printRatio("list fill, 100k rows x 4", "BM_QTableWidgetFill", "BM_ListCtrlFill", false,
                 ">= 10x");
    return 0;
}
