#pragma once
// Validator of an entry that holds a whole number of up to a given count of digits, with or
// without a leading sign. Full-width digits and signs (what a Chinese input method types) are
// turned into ASCII as they are typed; a decimal point, a fifth digit or any other character is
// refused as it is typed, so the box never holds a number other than the one that is sent.

#include <QValidator>

namespace ui {

class DigitsValidator : public QValidator {
    Q_OBJECT
  public:
    DigitsValidator(int maxDigits, bool allowMinus, QObject* parent = nullptr);
    State validate(QString& input, int& pos) const override;

  private:
    int maxDigits_;
    bool allowMinus_;
};

}  // namespace ui
