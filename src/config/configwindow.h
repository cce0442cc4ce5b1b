#pragma once
// The configuration window: the instrument's 38 configuration parameters on nine tabs. Once a
// second it shows what the poll cycle last read of 4X 4097..4144 beside each parameter. The edit
// controls start from the instrument's values (read when the window opens) and keep following
// them until the operator edits one; a control the operator changed writes its parameter when it
// loses the focus, and the status line at the bottom says how each write ended. The window is left
// only through " Esc 返回" (or Esc); its owner then deletes it.

#include <QHash>
#include <QVector>
#include <vector>

#include "config/paramtable.h"
#include "instrument/feed.h"
#include "ui/subwindow.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QTabWidget;

namespace config {

class ConfigWindow : public ui::SubWindow {
    Q_OBJECT
  public:
    // The owner sends the window's writes (writeSender()) and brings the feed's reads back to
    // holdingRead.
    explicit ConfigWindow(instrument::Feed feed, QWidget* parent = nullptr);

    void readbackTick();  // the image's 4X 4097..4144 into the readback labels (and editors)
    // The read of id ended: with the values from first when read, else with none.
    void holdingRead(quint64 id, int32_t first, const QVector<int32_t>& values, bool read);

  protected:
    void keyPressEvent(QKeyEvent* e) override;

  private:
    struct Row {
        const Param* param = nullptr;
        QLabel* readback = nullptr;  // D_4W(k)
        QComboBox* list = nullptr;   // list parameters
        QLineEdit* edit = nullptr;   // T_3RW(k)
        QWidget* editor() const;
    };

    QWidget* buildTab(int tab);
    void writeChanged(QWidget* control);
    void showInEditors(const QVector<float>& values);
    void switchTab(int step);

    instrument::Feed feed_;
    QTabWidget* tabs_ = nullptr;
    std::vector<Row> rows_;               // in table order
    QHash<QObject*, size_t> rowOf_;       // edit control -> index in rows_
    quint64 editorReadId_ = 0;            // the read that fills the editors, while in flight
    bool editorsFromInstrument_ = false;  // a read of the instrument's values has arrived
};

}  // namespace config
