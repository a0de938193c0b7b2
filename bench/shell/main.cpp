#include "panel_app.h"

#include <cstdlib>
#include <cstring>

namespace {

// --help and --version only print, so they must also work where no display is (a
// console, a package build generating the man page): the window system is not needed.
bool OnlyPrints(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        for (const char* flag : {"--help", "-h", "-?", "--help-all", "--version", "-v"})
            if (std::strcmp(argv[i], flag) == 0) return true;
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (OnlyPrints(argc, argv) && !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    qx4bench::CQX4PanelApp app(argc, argv);
    if (!app.InitInstance()) return 1;
    return app.exec();
}
