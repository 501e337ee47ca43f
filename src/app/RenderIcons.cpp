// Build step: writes the program's icon into a hicolor icon theme tree for installation.
#include <cstdio>

#include <QDir>
#include <QString>

#include "AppIcon.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s THEME_DIR\n", argv[0]);
        return 2;
    }
    const QString theme = QString::fromLocal8Bit(argv[1]);
    for (const int side : vd::kApplicationIconSizes) {
        const QString folder = QString("%1/%2x%2/apps").arg(theme).arg(side);
        if (!QDir().mkpath(folder) || !vd::drawApplicationIconImage(side).save(folder + "/vantor-dashboard.png")) {
            std::fprintf(stderr, "cannot write the %dx%d icon under %s\n", side, side, argv[1]);
            return 1;
        }
    }
    return 0;
}
