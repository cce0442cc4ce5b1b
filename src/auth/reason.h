#pragma once
// The reason for a change: asked once its value is confirmed and before anything is sent or
// stored, from the administrator's list of reasons or as free text. One dialog for every write to
// an instrument and every change of a setting.

#include <QDialog>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>

#include "auth/actor.h"
#include "auth/roles.h"
#include "base/audit.h"

class QComboBox;
class QPushButton;

namespace auth {

// "变更原因": what is changed, the reasons in an editable list (free text too); OK needs a
// reason that is not blank.
class ReasonDialog : public QDialog {
    Q_OBJECT
  public:
    ReasonDialog(const QString& what, const QStringList& reasons, QWidget* parent);
    QString reason() const;

  private:
    QComboBox* reason_;
    QPushButton* ok_;
};

// The reason for the change named by what: empty at once with access control off; nullopt when
// the operator cancels (nothing is to be done).
std::optional<QString> askReason(QWidget* parent, const QString& what);

// Before the action is done, once its value is confirmed: with access control off an empty audit
// at once; an audit with the refusal when the one at the PC may not do it (nothing is asked);
// else the user and the reason asked for, or nullopt when the reason was not given.
std::optional<base::Audit> consent(QWidget* parent, Action action, const QString& what);

// Whoever is at the PC, as the session stands: what the windows' commands carry. Without a guard
// (no accounts in this program) anyone, with access control off.
Actor actorAtThePc();

// Why the one at the PC may not do the action, as shown; empty when they may.
QString refusalShown(Action action);

// A window's writes through consent(), over the window in front: the action of each register,
// the control's caption (in Chinese) and the value as shown.
using WriteGate = std::function<std::optional<base::Audit>(int32_t reg, const QString& caption,
                                                           const QString& shown)>;
WriteGate writeGate(std::function<Action(int32_t reg)> actionOf);

}  // namespace auth
