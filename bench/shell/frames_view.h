// The frames on the wire, decoded as qx4 --trace shows them, in a pane that can be
// shown and hidden. The library's trace hook is set only while the pane is shown.
#pragma once

#include <QDockWidget>
#include <QStringList>
#include <mutex>

class QPlainTextEdit;
class QTimer;

namespace qx4bench {

class FramesView : public QDockWidget {
  public:
    static constexpr int kKeptLines = 2000;
    static constexpr int kFlushPeriodMs = 100; // frames drawn in batches, not one by one
    static constexpr int kLinesPerFlush = 100;

    explicit FramesView(QWidget* parent);
    ~FramesView() override;
    QString Text() const; // what the pane shows

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    static void OnFrame(int direction, const unsigned char* bytes, unsigned count, void* user);
    void Flush();

    QPlainTextEdit* text_;
    QTimer* flush_;
    std::mutex mutex_;              // the hook may run on another thread than the pane
    QStringList pending_;           // guarded by mutex_
    unsigned char lastCommand_ = 0; // guarded by mutex_: names the answers
};

} // namespace qx4bench
