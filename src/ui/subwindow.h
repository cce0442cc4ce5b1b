#pragma once
// The base of the windows the main window hides itself behind (configuration, program): left only
// through " Esc 返回" or Esc, its close box refused until then; its owner deletes it on
// returned(). It carries what every such window edits and writes with: the tracking of the
// operator's edits, the sender of the values, the status line that says how each write ended,
// and the readback timer.

#include <QWidget>
#include <functional>

#include "ui/writestatus.h"

class QHBoxLayout;
class QPushButton;
class QTimer;

namespace ui {

class EditTracker;

class SubWindow : public QWidget {
    Q_OBJECT
  public:
    explicit SubWindow(QWidget* parent = nullptr);
    ~SubWindow() override;

    // Where the window's writes go; its owner may have them sent elsewhere (as commands).
    WriteSender* writeSender() const { return writer_; }
    // True while the window may only be left through its return button.
    bool blockClose() const { return !leaving_; }
    // " Esc 返回": nothing more is written, the readback stops, the window goes and says so.
    void returnToMainWindow();

  signals:
    // The operator left the window; the owner deletes it and shows itself again.
    void returned();

  protected:
    // Leaving or torn down: focus changes no longer write.
    bool leaving() const { return leaving_; }
    EditTracker* edits() const { return edits_; }
    WriteSender* writer() const { return writer_; }  // the subclass says what it sends through
    QPushButton* returnButton() const { return returnButton_; }
    // The status line (stretched) and the return button, for the bottom of the layout.
    QHBoxLayout* bottomRow();
    // The readback timer "Timer1", started at once; it stops when the window is left.
    void startReadback(int intervalMs, const std::function<void()>& tick);

    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

  private:
    bool leaving_ = false;
    EditTracker* edits_ = nullptr;
    WriteSender* writer_ = nullptr;
    WriteStatusLine* statusLine_ = nullptr;
    QPushButton* returnButton_ = nullptr;
    QTimer* readbackTimer_ = nullptr;
};

}  // namespace ui
