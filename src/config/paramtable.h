#pragma once
// The configuration parameters of the instrument as data. One table gives, for each of the 38
// parameters, its tab, caption, register, edit control, option list or kind of number, readback
// rule and hint; the window builds its rows from it, the readback and the writers read it.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/numberrule.h"

namespace config {

// The option list of a list box and the shorter texts its readback shows for the same codes.
// Entry n stands for code n.
struct OptionList {
    QStringList entries;   // what the list offers: "1:允许 "
    QStringList readback;  // what the readback label shows: "使能"
};

enum class Kind {
    List,    // a list box; its readback shows the code's text
    Number,  // a T_3RW box holding a whole register count; readback shows the plain number
    Filter,  // the digital filter: typed seconds, the register holds tenths
};

struct Param {
    int tab;          // index into tabCaptions()
    QString caption;  // the name label
    int k;            // ParamValues index, register 4097 + k, index of D_4W and T_3RW
    Kind kind;
    QString listName;           // objectName of the list box ("Combo14"); empty for text boxes
    const OptionList* options;  // the list's entries and readback texts; null for text boxes
    QString hint;               // the hint label
    int32_t reg() const { return 4097 + k; }
};

// The tab captions in their order, and the one the window opens on.
const QStringList& tabCaptions();
inline constexpr int kOpeningTab = 1;  // "输入1"

// The 38 rows in ascending k.
const std::vector<Param>& parameterTable();
// The row of parameter k, or null when the window has none (k = 4..7, 13..15, 21..23).
const Param* paramAt(int k);

// The hint that stands on its own below the rows of the "INST" tab.
QString instExtraHint();

// objectName of a row's edit control: "Combo14" or "T_3RW_10".
QString editorName(const Param& p);
// The accessible name of a row's edit control: its caption, prefixed by the tab caption where the
// same caption stands on more than one tab ("输入1 输入上限").
QString accessibleName(const Param& p);

// The readback label's text for a register value. nullopt leaves the label as it is: a list
// value that is no code of its list (negative, past the end, or not whole).
std::optional<QString> readbackText(const Param& p, float value);

// The entry of a list parameter's list that stands for a register value (its code), for showing
// the instrument's value in the list; nullopt for a value that is no code of the list.
std::optional<int> listEntryFor(const Param& p, float value);

// The code a list writer sends for the text a list box shows: the position of the entry with
// exactly that text. nullopt (nothing is sent) when the text is no entry of the list.
std::optional<int32_t> listCode(const Param& p, const QString& shown);

// The value the entry writer sends for the text of box k: the number by the whole-number rule (×10
// for the digital filter), kept as a single-precision number and rounded half to even; or, when
// nothing is sent, the reason (empty, not a number, does not fit one 16-bit register).
base::RegisterReading textValue(int k, const QString& text);

}  // namespace config
