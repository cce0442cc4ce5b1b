#pragma once
// The overview of every chamber the program serves ("试验箱总览"): a tile per chamber that shows
// its values, states and worst state at a glance; the chambers added, changed and deleted; a
// chamber's main window opened from its tile.

#include <QDialog>
#include <QFrame>
#include <QList>
#include <QMargins>
#include <QPointer>
#include <QStaticText>
#include <QWidget>
#include <functional>
#include <optional>

#include "base/audit.h"
#include "chamber/commands.h"
#include "chamber/state.h"
#include "comm/ports.h"
#include "overview/chamberlist.h"
#include "overview/tile.h"

class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QSpinBox;
class QTableWidget;
class QTimer;

namespace chamber {
class Chamber;
}

namespace overview {

// One chamber's tile: focusable; Enter or a double click asks to open the chamber. It paints its
// lines itself, word by word, each word laid out once and repainted only when it or its place
// changes: twice a second every tile takes new values, and laying out and drawing all of its text
// again each time cost the UI thread milliseconds with 16 chambers shown.
class TileWidget : public QFrame {
    Q_OBJECT
  public:
    explicit TileWidget(QWidget* parent = nullptr);
    void display(const Tile& tile, bool flashPhase);
    Tone tone() const { return tone_; }
    QSize sizeHint() const override;

  signals:
    void activated();
    // An arrow key, Home or End: the focus is to move to another tile.
    void stepped(int key);
    // Clicked or given the focus: the chamber the buttons act on.
    void chosen();

  protected:
    void changeEvent(QEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

  private:
    // A word of a line and where it starts, from the line's left.
    struct Word {
        QStaticText text;
        qreal x = 0, width = 0;
    };
    struct Line {
        QString text;
        QList<Word> words;
    };
    // Between the frame and the text.
    static constexpr QMargins kPadding{8, 4, 8, 4};
    // The row of line i (the name is line 0), as wide as the tile's inside.
    QRect lineRect(int i) const;
    // The part of line i's row that a word's advance covers.
    QRect wordRect(int i, const Word& w) const;
    void setLine(int i, const QString& text);
    void measure();
    QFont nameFont_;
    int nameHeight_ = 0, lineHeight_ = 0;
    qreal nameSpace_ = 0, space_ = 0;  // a space's width in either font
    QList<Line> lines_;
    Tone tone_ = Tone::Normal;
};

// The dialog that adds a chamber or changes one. The list with the edit must pass the checks of
// the whole list; a refusal is said in the dialog, which stays open.
class ChamberDialog : public QDialog {
    Q_OBJECT
  public:
    // others: the chambers beside the one edited; edited: the chamber changed (its name stays),
    // or none to add one (a free address proposed, with the line's baud and parity);
    // turnarounds: each port's turnaround delay as kept; ports: the device each number names.
    ChamberDialog(QList<ChamberConf> others, const ChamberConf* edited,
                  QMap<int, int> turnarounds = {}, comm::PortMap ports = {},
                  QWidget* parent = nullptr);
    ChamberConf conf() const;
    // The turnaround delay of the chamber's port, shared by every chamber on it.
    int turnaroundMs() const;
    // Checks the entries (and asks for the reason with access control on) and accepts, or says
    // why not.
    void tryAccept();
    // Who made the change and why, with the settings before and after ("PORT,ADDRESS,BAUD,PARITY").
    const base::Audit& audit() const { return audit_; }

  protected:
    void showEvent(QShowEvent* e) override;

  private:
    std::optional<ChamberConf> edited_;
    base::Audit audit_;
    QList<ChamberConf> others_;
    QMap<int, int> turnarounds_;
    QLineEdit* name_ = nullptr;
    QSpinBox* port_ = nullptr;
    QSpinBox* address_ = nullptr;
    QComboBox* baud_ = nullptr;
    QComboBox* parity_ = nullptr;
    QSpinBox* turnaround_ = nullptr;
    QLabel* device_ = nullptr;
    QLabel* message_ = nullptr;
    comm::PortMap ports_;
};

class OverviewWindow : public QWidget {
    Q_OBJECT
  public:
    struct Entry {
        ChamberConf conf;
        chamber::Chamber* chamber = nullptr;  // outlives its entry here
    };

    explicit OverviewWindow(QWidget* parent = nullptr);
    ~OverviewWindow() override;

    void setChambers(QList<Entry> entries);
    // The chambers are another program's (the service's): an entry without a chamber shows the
    // state states gives for its name (none: not known yet), the chamber list's buttons are
    // hidden, and a line under the buttons says how the window is attached.
    // "确认" acknowledges their alerts through acknowledge, which answers through done.
    using StateSource = std::function<std::optional<chamber::State>(const QString& name)>;
    using Acknowledge =
        std::function<void(const QString& chamber, const QString& alertId, const QString& comment,
                           std::function<void(chamber::Outcome)> done)>;
    void showServed(StateSource states, Acknowledge acknowledge);
    void setStatusText(const QString& text);
    // Each port's turnaround delay, as the chamber dialog starts with it.
    void setTurnarounds(QMap<int, int> turnarounds) { turnarounds_ = std::move(turnarounds); }
    // The devices the port numbers name, as the chamber dialog shows them.
    void setPorts(const comm::PortMap& ports) { ports_ = ports; }
    const QList<Entry>& chambers() const { return entries_; }
    QList<TileWidget*> tiles() const { return tiles_; }
    // The chamber chosen (the tile last clicked or given the focus); -1 without chambers.
    int current() const { return chosen_; }
    // Reads every chamber's state again (the window's own 500 ms tick).
    void refresh();

    // The buttons' handlers.
    void addChamber();     // "添加"
    void editChamber();    // "修改"
    void deleteChamber();  // "删除"
    void openChamber();    // "打开试验箱"
    // "打开端口", "关闭端口": the chosen chamber's line, for every chamber on it.
    void openLine();
    void closeLine();
    void requestExit();  // "退出" and the close box: asks first
    void showAbout();    // "关于"
    // "确认" under the alert list: acknowledges the chosen alert (the oldest unacknowledged one
    // of any chamber when none is chosen) with the comment in the box.
    void acknowledgeAlert();
    QWidget* dialog() const { return dialog_.data(); }

    // Called when the program is to end (after the question).
    void setExitAction(std::function<void()> action) { exitAction_ = std::move(action); }
    // Lets the window close (the program is ending).
    void allowClose() { closing_ = true; }

  signals:
    // "访问控制": the administration of accounts and access control.
    void accessRequested();
    void openRequested(int index);
    // Each with who asked and why (access control on), the settings before and after.
    void added(const overview::ChamberConf& conf, const base::Audit& by);
    void changed(int index, const overview::ChamberConf& conf, const base::Audit& by);
    void removed(int index, const base::Audit& by);
    // The line of chamber index's port to be opened or closed for every chamber on it.
    void lineRequested(int index, bool open);
    // The chamber dialog changed the turnaround delay of a port's line (before added or changed).
    void turnaroundChanged(int port, int ms, const base::Audit& by);

  protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;

  private:
    QList<ChamberConf> confs(int except) const;
    // Tab goes through the tiles in reading order, the alert list and its controls, then the
    // buttons from left to right.
    void arrangeTabOrder();
    // "删除" answered: the chamber of that name leaves, once its reason is given.
    void removeNamed(const QString& name);
    void choose(int index);
    void refreshAlerts();
    std::optional<chamber::State> stateOf(const Entry& e) const;

    // Emits turnaroundChanged when the dialog's delay differs from the port's.
    void takeTurnaround(const ChamberDialog& d);

    QList<Entry> entries_;
    QMap<int, int> turnarounds_;
    comm::PortMap ports_;
    QList<TileWidget*> tiles_;
    int chosen_ = -1;
    bool flashPhase_ = false;
    bool closing_ = false;
    std::function<void()> exitAction_;
    QWidget* tileArea_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QGridLayout* grid_ = nullptr;
    QLabel* empty_ = nullptr;
    QPushButton* openButton_ = nullptr;
    QPushButton* editButton_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
    QPushButton* lineOpenButton_ = nullptr;
    QPushButton* lineCloseButton_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QPushButton* accessButton_ = nullptr;
    QPushButton* aboutButton_ = nullptr;
    QPushButton* exitButton_ = nullptr;
    QTimer* timer_ = nullptr;
    QPointer<QWidget> dialog_;
    // Every chamber's active and unacknowledged alerts.
    QTableWidget* alerts_ = nullptr;
    QLineEdit* alertComment_ = nullptr;
    QPushButton* alertAck_ = nullptr;
    QLabel* alertMessage_ = nullptr;
    QString alertsShown_;  // what the list shows, to rebuild it only when that changes
    StateSource served_;
    Acknowledge servedAcknowledge_;
    QLabel* status_ = nullptr;
};

}  // namespace overview
