// The main window: menu bar, command bar, the 200 ms timer that lets the library
// deliver unsolicited data, and the library's close on destruction.
#pragma once

#include <QMainWindow>

class QAction;

namespace qx4bench {

class CQX4PanelView;
class FramesView;

class CMainFrame : public QMainWindow {
  public:
    static constexpr int kTimerPeriodMs = 200;

    CMainFrame();
    ~CMainFrame() override; // stops the timer, then QX4DllClose
    CQX4PanelView* view() const { return view_; }
    QAction* Action(int commandId) const;
    FramesView* framesView() const { return framesView_; }

  protected:
    void timerEvent(QTimerEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildMenus();
    void OnCommand(int commandId);
    void ChooseLogFile(); // on: which file; off: stop

    CQX4PanelView* view_;
    FramesView* framesView_ = nullptr;
    int timerId_ = 0;
};

} // namespace qx4bench
