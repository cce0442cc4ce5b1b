#pragma once
// ProgramWindow, the program window "工艺曲线设定": the program's run status, the program block 4X
// 8193..8240 read back every 600 ms beside the controls that edit it, and a preview of the program.
// The controls start from the program the instrument holds (after the first complete readback)
// and follow it until the operator edits one; a control the operator changed writes its register
// when it loses the focus, and the status line at the bottom says how each write ended.

#include <array>
#include <cstdint>

#include "instrument/feed.h"
#include "program/preview.h"
#include "program/programrules.h"
#include "ui/subwindow.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace program {

class ChartFrame;

class ProgramWindow : public ui::SubWindow {
    Q_OBJECT
  public:
    // The owner sends the window's writes (writeSender()) and brings the feed's reads back to
    // holdingRead.
    explicit ProgramWindow(instrument::Feed feed, QWidget* parent = nullptr);

    void readbackTick();  // the 600 ms tick: status, program block read, preview
    // The read of id ended: with the values from first when read, else with none.
    void holdingRead(quint64 id, int32_t first, const QVector<int32_t>& values, bool read);
    // The three reads of the last tick have not all been answered.
    bool readsPending() const { return readBlock_ >= 0; }
    const Readback& readback() const { return readback_; }
    const ProgramCurve& curve() const { return curve_; }
    const PreviewGeometry& preview() const { return preview_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    struct ListWriter {
        QComboBox* list = nullptr;
        QStringList entries;
        int32_t reg = 0;
        int element = 0;  // its readback element
    };

    void build();
    QWidget* buildStatusFrame();
    QWidget* buildSettingsFrame();
    QWidget* buildSegmentFrame(int k);
    void arrangeTabOrder();

    void writeChanged(QWidget* control);
    void writeEntry(QLineEdit* entry, int32_t reg, const base::RegisterReading& value);
    void queueRead(int block);
    void showProgramStatus();
    void showReadback();
    void showInEditors();
    void drawPreview();

    instrument::Feed feed_;
    Readback readback_{};
    int readBlock_ = -1;  // block whose read is in flight, -1 when none
    quint64 readId_ = 0;
    bool cycleRead_ = true;               // every block of the current read cycle arrived
    bool editorsFromInstrument_ = false;  // a complete readback has arrived since opening
    ProgramCurve curve_;
    PreviewGeometry preview_;

    std::array<QLabel*, 9> statusValues_{};                        // the program's run status
    std::array<QLabel*, kReadbackSize> readbackLabels_{};          // nullptr where no field exists
    std::array<QLineEdit*, kSegmentEntryCount> segmentEntries_{};  // nullptr for 3, 7, .., 27
    QLineEdit* cycleCountEntry_ = nullptr;
    // Time unit, segment count, power failure, start value, end output.
    std::array<ListWriter, 5> settingLists_{};
    QPushButton* downloadButton_ = nullptr;  // "下载曲线": values reach the instrument as each
                                             // field is left, so it does nothing itself
    ChartFrame* chart_ = nullptr;
};

}  // namespace program
