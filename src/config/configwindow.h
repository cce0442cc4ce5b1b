#pragma once
// The configuration window: the instrument's 38 configuration parameters on nine tabs. Once a
// second it shows what the poll cycle last read of 4X 4097..4144 beside each parameter; an edit
// control that loses the focus writes its parameter to the instrument through the link thread.
// The window is left only through " Esc 返回" (or Esc); its owner then deletes it, so every opening
// starts from empty boxes and labels.

#include <QHash>
#include <QWidget>
#include <vector>

#include "config/paramtable.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTimer;

namespace comm {
class Link;
}

namespace config {

class ConfigWindow : public QWidget {
    Q_OBJECT
  public:
    explicit ConfigWindow(comm::Link& link, QWidget* parent = nullptr);
    ~ConfigWindow() override;

    // True while the window may only be left through Command11.
    bool BlockClose() const { return blockClose_; }

    // Handlers.
    void Timer1_Timer();     // readback of ParamValues into the D_4W labels
    void Command11_Click();  // " Esc 返回"

  signals:
    // The operator left the window; the owner deletes it and shows itself again.
    void returned();

  protected:
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    struct Row {
        const Param* param = nullptr;
        QLabel* readback = nullptr;  // D_4W(k)
        QComboBox* list = nullptr;   // list parameters
        QLineEdit* edit = nullptr;   // T_3RW(k)
        QWidget* editor() const;
    };

    QWidget* buildTab(int tab);
    void listLostFocus(const Row& row);
    void textLostFocus(const Row& row);
    void switchTab(int step);

    comm::Link& link_;
    QTabWidget* tabs_ = nullptr;
    QPushButton* command11_ = nullptr;
    QTimer* timer1_ = nullptr;
    std::vector<Row> rows_;          // in table order
    QHash<QObject*, size_t> rowOf_;  // edit control -> index in rows_
    bool blockClose_ = true;
    bool unloading_ = false;
};

}  // namespace config
