#include "panel_app.h"

int main(int argc, char** argv) {
    qx4bench::CQX4PanelApp app(argc, argv);
    if (!app.InitInstance()) return 1;
    return app.exec();
}
