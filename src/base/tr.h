#pragma once
// The operator's texts in the chosen language. Every text is written in Chinese in the sources and
// translated in one context, "velmars", so that a text kept in Chinese (an event row stored before
// events had codes) is found later by its words alone, wherever it was written.

#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <span>
#include <vector>

namespace base {

class Tr {
    Q_DECLARE_TR_FUNCTIONS(velmars)
};

// The language a text is made in: Stored is the sources' Chinese, as the event table's text
// column keeps it for every reader of the file; Shown is the operator's chosen language.
enum class Lang { Stored, Shown };

// A text of the sources (QT_TRANSLATE_NOOP'd in "velmars") in the language.
QString wording(const char* source, Lang lang);
// A caption or value kept in Chinese, in the language (Shown: as shown() gives it).
QString wording(const QString& stored, Lang lang);

// A text of the sources with the values that go into it ("试验名称已被使用：%1" and the name), put
// into words where it is shown or stored. The values go in as they are; the parts, texts of their
// own put into the same language, follow them ("%1：%2" with a path and a fault's words).
struct Phrase {
    QString words{};  // the source text, QT_TRANSLATE_NOOP'd in "velmars"; empty for none
    QStringList values{};
    std::vector<Phrase> parts{};

    bool isEmpty() const { return words.isEmpty(); }
    QString text(Lang lang) const;
    bool operator==(const Phrase&) const = default;
};

// A text kept in Chinese, in the chosen language. In turn: its translation (a source with a
// trailing blank is found from its trimmed form too, as stored texts are trimmed); else the first
// of the patterns it was built from ("端口已打开：%1") it matches, translated, with its parts
// shown in turn; else, for a caption put together from words ("SEG3 设定值TIME"), word by word;
// else itself. The patterns are builtPatterns() unless others are given.
QString shown(const QString& text);
QString shown(const QString& text, std::span<const char* const> patterns);

// The patterns of the texts that were built with parameters and kept in Chinese, as event rows
// stored by older versions hold them (before events had codes, or values beside their words),
// most particular first.
std::span<const char* const> builtPatterns();

}  // namespace base

Q_DECLARE_METATYPE(base::Phrase)
