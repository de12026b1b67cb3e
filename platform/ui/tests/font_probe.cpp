// Prints the family the dialog faces map to, asked twice: the font fallback
// test runs it under a font configuration of its own.
#include <QApplication>
#include <cstdio>

#include "fonts.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    for (int i = 0; i < 2; ++i)
        std::printf("%s\n", qPrintable(ui::detail::mapFaceName(QStringLiteral("宋体"))));
    return 0;
}
