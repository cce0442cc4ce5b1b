#pragma once
// The dialog of an electronic signature: user id and password (both asked every time) and what the
// signature means. The signing itself is the caller's, off the UI thread: the dialog hands it
// what was typed and shows its answer, closing once it signed.

#include <QDialog>
#include <QString>
#include <functional>

#include "ui/credentialform.h"

class QComboBox;
class QLineEdit;

namespace ui {

class SignDialog : public QDialog {
    Q_OBJECT
  public:
    // The meanings in their order: performed, reviewed, approved (index 0, 1, 2).
    static QStringList meanings();
    // done(why): empty when signed.
    using Done = std::function<void(const QString& why)>;
    using Signer =
        std::function<void(const QString& userId, const QString& password, int meaning, Done done)>;
    // what: the thing signed, as the dialog names it.
    SignDialog(const QString& what, Signer signer, QWidget* parent);

  private:
    void submit();
    Signer signer_;
    CredentialForm form_;
    QLineEdit* user_;
    QLineEdit* password_;
    QComboBox* meaning_;
};

}  // namespace ui
