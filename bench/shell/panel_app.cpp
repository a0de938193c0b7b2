#include "panel_app.h"

#include "field_file.h"
#include "main_frame.h"
#include "platform_hooks.h"
#include "settings_store.h"
#include "simulated_reader.h"
#include "texts.h"

#include <QCommandLineParser>
#include <QIcon>
#include <cstdio>
#include <cstdlib>

// Resources of a static library are registered by hand, outside any namespace.
static void InitResources() {
    Q_INIT_RESOURCE(qx4bench);
}

namespace qx4bench {

void LoadResources() {
    InitResources();
}

CQX4PanelApp::CQX4PanelApp(int& argc, char** argv) : QApplication(argc, argv) {}

CQX4PanelApp::~CQX4PanelApp() {
    frame_.reset(); // closes the library before the simulated reader goes
    simulator_.reset();
}

bool CQX4PanelApp::InitInstance() {
    setOrganizationName("Kessaro Corp");
    setApplicationName("QX4Bench");
    setApplicationVersion(QX4_VERSION);
    LoadResources();
    setWindowIcon(QIcon(":/qx4bench.png"));

    QCommandLineParser parser;
    parser.setApplicationDescription("QX4Bench: checker for the QX4 RFID reader/writer");
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption simulate("simulate",
                                "Start a simulated reader on a pseudo-terminal and use it as the "
                                "stored COM port (no hardware needed).");
    QCommandLineOption field("field", "Tags of the simulated reader, from a JSON tag dump.",
                             "file");
    QCommandLineOption language("lang",
                                "Language of the texts: ja (as they stand, the default) or en. "
                                "The environment variable QX4BENCH_LANG does the same.",
                                "language");
    parser.addOption(simulate);
    parser.addOption(field);
    parser.addOption(language);
    parser.process(*this);
    const QString chosen =
        parser.isSet(language) ? parser.value(language) : qEnvironmentVariable("QX4BENCH_LANG");
    if (!UseLanguage(chosen))
        std::fprintf(stderr, "QX4Bench: no texts in \"%s\"; the Japanese ones stay\n",
                     qPrintable(chosen));

    InstallPlatformHooks();
    QuitOnTerminationSignals();
    if (parser.isSet(simulate) && !StartSimulation()) return false;
    if (parser.isSet(field) && simulator_) {
        try {
            simulator_->SetField(qx4sim::LoadField(parser.value(field).toStdString()));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "QX4Bench: %s\n", error.what());
            return false;
        }
    }

    document_ = std::make_unique<CQX4PanelDoc>();
    frame_ = std::make_unique<CMainFrame>();
    frame_->show();
    return true;
}

bool CQX4PanelApp::StartSimulation() {
    try {
        simulator_ = std::make_unique<qx4sim::SimulatedReader>();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "QX4Bench: cannot start the simulated reader: %s\n", error.what());
        return false;
    }
    // The view opens the stored port: point that COM number at the simulated reader.
    const int port = ReadSettingInt("ComPort", 4);
    const std::string variable = "QX4_COM" + std::to_string(port);
    ::setenv(variable.c_str(), simulator_->DevicePath().c_str(), 1);
    std::fprintf(stderr, "QX4Bench: simulated reader on %s (%s)\n",
                 simulator_->DevicePath().c_str(), variable.c_str());
    return true;
}

} // namespace qx4bench
