#pragma once
// The program-number dialog: asks for a program number and stores it in ProgramNumber. It can only
// be left through its two buttons.

#include <QDialog>
#include <cstdint>

class QLineEdit;
class QPushButton;

namespace shell {

// The shared program number, 0 at program start.
int16_t& ProgramNumber();

class ProgramNumberDialog : public QDialog {
    Q_OBJECT
  public:
    explicit ProgramNumberDialog(QWidget* parent = nullptr);
    bool blockClose() const { return blockClose_; }

    void confirm();  // "确定"
    void cancel();   // "取消"

  protected:
    void closeEvent(QCloseEvent* e) override;
    void reject() override;  // Esc: refused like the close box while BlockClose is true

  private:
    QLineEdit* setValueEdits_;
    bool blockClose_ = true;
};

}  // namespace shell
