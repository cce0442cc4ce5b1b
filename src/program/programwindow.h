#pragma once
// ProgramWindow, the program window "工艺曲线设定": the program's run status, the program block 4X
// 8193..8240 read back every 600 ms beside the controls that edit it, one register written per
// control when it loses the focus, and a preview of the program as typed.

#include <QPointer>
#include <QWidget>
#include <array>
#include <cstdint>

#include "link/link.h"
#include "program/preview.h"
#include "program/programrules.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace program {

class ChartFrame;

class ProgramWindow : public QWidget {
    Q_OBJECT
  public:
    explicit ProgramWindow(comm::Link& link, QWidget* parent = nullptr);
    ~ProgramWindow() override;

    // Handlers (the timer and the buttons are connected to them).
    void Timer1_Timer();      // the 600 ms readback tick
    void Command11_Click();   // " Esc 返回": BlockClose cleared, returned() emitted
    void Command1_Click() {}  // "下载曲线": values reach the instrument as each field is left

    bool blockClose() const { return blockClose_; }
    // The three reads of the last tick have not all been answered.
    bool readsPending() const { return readBlock_ >= 0; }
    const Readback& readback() const { return readback_; }
    const ProgramCurve& curve() const { return curve_; }
    const PreviewGeometry& preview() const { return preview_; }

  signals:
    void returned();

  protected:
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    struct ListWriter {
        QComboBox* combo = nullptr;
        QStringList entries;
        int32_t reg = 0;
    };

    void build();
    QWidget* buildStatusFrame();
    QWidget* buildSettingsFrame();
    QWidget* buildSegmentFrame(int k);
    void arrangeTabOrder();

    void listLostFocus(const ListWriter& w);
    void entryLostFocus(int32_t reg, const QString& text);
    void queueRead(int block);
    void onReadFinished(quint64 id, int32_t start, const QVector<int32_t>& values, int32_t status);
    void showProgramStatus();
    void showReadback();
    void drawPreview();

    comm::Link& link_;
    bool blockClose_ = true;
    bool leaving_ = false;
    Readback readback_{};
    int readBlock_ = -1;  // block whose read is in flight, -1 when none
    quint64 readId_ = 0;
    ProgramCurve curve_;
    PreviewGeometry preview_;

    QTimer* timer1_ = nullptr;
    std::array<QLabel*, 9> proS_{};
    std::array<QLabel*, kReadbackSize> label3_{};  // nullptr where no field exists
    std::array<QLineEdit*, kTxtBCount> txtB_{};    // nullptr for 3, 7, .., 27
    QLineEdit* textA2_ = nullptr;
    std::array<ListWriter, 5> lists_{};  // Combo2, Combo4, Combo1, Combo8, Combo3
    QPushButton* command1_ = nullptr;
    QPushButton* command11_ = nullptr;
    ChartFrame* chart_ = nullptr;
};

}  // namespace program
