#pragma once
// The form every dialog that asks for a password builds: its entries one per row, a wrapped line
// for the answer and the button that submits, default on Enter. While the check runs off the UI
// thread the entries and the button wait, disabled, under "正在验证…".

#include <QList>
#include <QString>

class QBoxLayout;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace ui {

class CredentialForm {
  public:
    explicit CredentialForm(QWidget* dialog);

    // An entry under its label; secret ones echo as dots.
    QLineEdit* entry(const QString& label, const char* name, bool secret);
    // Another input (waits with the entries) or a line of text across the form.
    void add(const QString& label, QWidget* input);
    void addLine(const QString& text);
    // The answer's line and the submitting button, with more buttons beside it if given.
    QPushButton* finish(const QString& text, const char* buttonName, const char* messageName,
                        const QList<QPushButton*>& beside = {});

    // The check begins: inputs and button disabled; false when one is under way already.
    bool wait();
    // The check's answer: inputs enabled again, its text shown.
    void answer(const QString& text);
    QLabel* message() const { return message_; }

  private:
    QWidget* dialog_;
    QFormLayout* form_;
    QList<QWidget*> inputs_;
    QPushButton* submit_ = nullptr;
    QLabel* message_ = nullptr;
};

}  // namespace ui
