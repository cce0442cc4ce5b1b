#pragma once
// The guard over the windows' writing controls: each window registers a control with the action
// it performs, and the guard disables it with the reason as its tooltip while the one at the PC
// may not do that. With access control off (and a usable user store) it leaves every control as
// its window sets it.

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include "auth/roles.h"

class QWidget;

namespace auth {

class Guard : public QObject {
    Q_OBJECT
  public:
    // The program's guard while it lives; register() goes to it.
    explicit Guard(QObject* parent = nullptr);
    ~Guard() override;
    static Guard* instance();

    void add(QWidget* control, Action action);
    // The standing after every change of the session; applies it to every control.
    void setStanding(const Standing& standing);
    Standing standing() const { return standing_; }
    bool allows(Action action) const;
    // Who is logged in and the administrator's reasons for a change, after every change of the
    // session; what the write paths stamp and offer.
    void setUser(const QString& userId, const QStringList& reasons,
                 const QHash<QString, QString>& fullNames = {});
    QString userId() const { return userId_; }
    QStringList reasons() const { return reasons_; }
    // Every account's full name by user id (what the logs show beside the ids).
    const QHash<QString, QString>& fullNames() const { return fullNames_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    struct Entry {
        QPointer<QWidget> control;
        Action action = Action::Look;
        bool held = false;   // disabled by the guard
        bool wanted = true;  // what its window last asked for
        QString tooltip;     // its own, while held
    };
    bool active() const { return standing_.controlled || !standing_.storeUsable; }
    void apply(Entry& e);
    static void hold(QWidget* control);

    Standing standing_;
    QString userId_;
    QStringList reasons_;
    QHash<QString, QString> fullNames_;
    QList<Entry> entries_;
    bool setting_ = false;
};

// Registers a window's writing control with the program's guard; nothing when there is none.
void guard(QWidget* control, Action action);

}  // namespace auth
