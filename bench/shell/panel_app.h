// The application object: start-up order, the document template, --simulate.
#pragma once

#include <QApplication>
#include <memory>

namespace qx4sim {
class SimulatedReader;
}

namespace qx4bench {

class CMainFrame;

void LoadResources(); // the icon, from the program's resources

// Holds no data and has no file format.
class CQX4PanelDoc {};

class CQX4PanelApp : public QApplication {
  public:
    CQX4PanelApp(int& argc, char** argv);
    ~CQX4PanelApp() override;
    // Settings company key, the hooks, the simulated reader if asked for, then the
    // document, the frame and its view. False when start-up failed.
    bool InitInstance();
    CMainFrame* mainFrame() const { return frame_.get(); }

  private:
    bool StartSimulation();

    std::unique_ptr<qx4sim::SimulatedReader> simulator_;
    std::unique_ptr<CQX4PanelDoc> document_;
    std::unique_ptr<CMainFrame> frame_;
};

} // namespace qx4bench
