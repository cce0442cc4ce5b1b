#pragma once
// The file dialogs of every window. Closing any descriptor of a file drops every record lock the
// process holds on it, so nothing but SQLite may open the database files while the recorder holds
// them; a file dialog's look at a folder must not open the files it lists. These dialogs are
// Qt's own (a desktop's native dialog sniffs each file in our process), and they tell a file's
// type and icon from its name alone.

#include <QString>
#include <memory>

class QFileDialog;
class QWidget;

namespace ui {

// A save dialog opened at path: a folder, or a file whose folder is shown and whose name is
// proposed (an empty path: the folder last chosen, else the working folder). Not shown yet.
std::unique_ptr<QFileDialog> saveDialog(QWidget* parent, const QString& caption,
                                        const QString& path, const QString& filter);

// A database in use or a file beside it (its log, its index, its journal, the recorder's lock
// file), told from the names in its folder without opening a file. The save dialogs refuse these.
bool isDatabaseInUse(const QString& file);

// Asks for a file to save to, as QFileDialog::getSaveFileName does; empty when cancelled.
QString saveFileName(QWidget* parent, const QString& caption, const QString& path,
                     const QString& filter);

// Makes every file list under root (a print dialog's completer of file names, say) tell types and
// icons by name only, and so every window shown from then on, for the dialogs that Qt's own
// dialogs open. Call it right after the dialog is made, before the event loop runs: the lists
// look at their files only when the listing arrives as an event.
void namesOnly(QWidget* root);

// Declines the desktop's native dialogs and makes every window shown from now on list files by
// name only. Called once at start-up, before any window, so that no dialog of Qt's or ours ever
// looks into the database files.
void listFilesByNameOnly();

}  // namespace ui
