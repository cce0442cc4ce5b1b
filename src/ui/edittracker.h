#pragma once
// Which entries and lists the operator changed. A window writes a control's value when the focus
// leaves it only if the operator edited it (typed, pasted, picked an entry) since it took the
// focus: moving the focus through a control, switching tabs or windows, opening or closing a
// window write nothing, and a value is written once per change. Retyping the shown value counts as
// a change. A change the window makes itself through showText()/showEntry() (a readback) is not an
// edit; any other change is, whether typed, pasted, picked or set by assistive technology.

#include <QHash>
#include <QObject>

class QComboBox;
class QLineEdit;
class QWidget;

namespace ui {

class EditTracker : public QObject {
    Q_OBJECT
  public:
    explicit EditTracker(QObject* parent = nullptr);

    void track(QLineEdit* entry);
    void track(QComboBox* list);  // an editable list: typing into it counts as an edit too

    // Edited since the focus last came in, and not yet handed on through changed().
    bool editedSinceFocusIn(const QWidget* control) const;
    // Edited at least once since tracking began: the control now holds the operator's value, so a
    // readback must not replace it.
    bool heldByOperator(const QWidget* control) const;
    // Shows a value in a control without counting it as an edit.
    void showText(QLineEdit* entry, const QString& text);
    void showEntry(QComboBox* list, int index);

    // While stopped (the window is being left or torn down) focus changes hand nothing on.
    void stop() { stopped_ = true; }

  signals:
    // The focus left a control the operator edited: write its value, once.
    void changed(QWidget* control);

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    struct State {
        bool edited = false;
        bool held = false;
    };
    void markEdited(QObject* control);

    QHash<const QObject*, State> states_;
    bool stopped_ = false;
    bool showing_ = false;  // the window itself is changing a control
};

}  // namespace ui
