#pragma once
// The language the program speaks: Chinese, as its texts are written, or a translation built into
// the program (English). --lang chooses it and the settings file keeps the choice; without either
// the desktop's language is taken when a translation exists for it.

#include <QString>
#include <QStringList>
#include <optional>

namespace shell {

// The languages the program speaks, by code: "zh" first, then each translation built in.
QStringList languages();

// The language of a run: the option, else the one kept, else the first of the desktop's languages
// ("en-GB", "zh-CN", ...) the program speaks, else "zh". Unknown codes count as not given.
QString chooseLanguage(const std::optional<QString>& option, const QString& kept,
                       const QStringList& desktop);

// The language kept in the settings: the profile's settings file's, else the program's own
// (a profile without a choice of its own speaks as the program does); empty when none is kept.
QString keptLanguage();

// Chooses the language for this run from the option, the settings and the desktop, and installs
// the translation. keep: the option becomes the kept choice (the program started with windows);
// a command (an export, a report, a check) only speaks it for its own run. Needs the application
// object. Returns the code chosen.
QString useLanguage(const std::optional<QString>& option, bool keep = false);

// Installs the translation of a language ("zh": none). Returns false for a language not built in.
bool installTranslation(const QString& code);

// The program's font: the system's font for Chinese text (ui::chineseFontFamily(), WenQuanYi Micro
// Hei on Linux) at 9 points where it is installed, as Chinese captions need a CJK font wherever the
// desktop does not pick one by itself. Needs the application object.
void useProgramFont();

}  // namespace shell
