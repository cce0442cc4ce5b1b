#include "ui/filedialog.h"

#include <QAbstractFileIconProvider>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QIcon>
#include <QMimeDatabase>

namespace ui {

namespace {

// Types and icons from the file's name: QMimeDatabase's default match reads the content of every
// file whose name does not decide its type (an SQLite log or index, an unknown extension).
class NameOnlyIcons : public QAbstractFileIconProvider {
  public:
    QIcon icon(const QFileInfo& info) const override {
        if (info.isDir()) return QAbstractFileIconProvider::icon(Folder);
        const QMimeType type = byName(info);
        return QIcon::fromTheme(
            type.iconName(),
            QIcon::fromTheme(type.genericIconName(), QAbstractFileIconProvider::icon(File)));
    }
    QString type(const QFileInfo& info) const override {
        if (info.isDir() || info.isRoot()) return QAbstractFileIconProvider::type(info);
        const QMimeType type = byName(info);
        return type.comment().isEmpty() ? type.name() : type.comment();
    }

  private:
    QMimeType byName(const QFileInfo& info) const {
        return mimes_.mimeTypeForFile(info, QMimeDatabase::MatchExtension);
    }
    QMimeDatabase mimes_;
};

// Shared by every dialog of the process and never deleted: a list may outlive its dialog until
// its deferred deletion.
QAbstractFileIconProvider* nameOnlyIcons() {
    static auto* icons = new NameOnlyIcons;
    return icons;
}

}  // namespace

std::unique_ptr<QFileDialog> saveDialog(QWidget* parent, const QString& caption,
                                        const QString& path, const QString& filter) {
    const QFileInfo target(path.isEmpty() ? QDir::currentPath() : path);
    const bool folder = target.isDir();
    // The folder is listed on a thread, and its files are looked at when the listing arrives as
    // an event: the lists tell types by name before the event loop runs again. The file proposed
    // is chosen only then, as choosing it looks at it.
    auto dialog = std::make_unique<QFileDialog>(parent, caption, QString(), filter);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setIconProvider(nameOnlyIcons());
    namesOnly(dialog.get());
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setDirectory(folder ? target.absoluteFilePath() : target.absolutePath());
    if (!folder) dialog->selectFile(target.fileName());
    return dialog;
}

QString saveFileName(QWidget* parent, const QString& caption, const QString& path,
                     const QString& filter) {
    const std::unique_ptr<QFileDialog> dialog = saveDialog(parent, caption, path, filter);
    if (dialog->exec() != QDialog::Accepted) return {};
    const QStringList files = dialog->selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

void namesOnly(QWidget* root) {
    for (QFileSystemModel* list : root->findChildren<QFileSystemModel*>())
        list->setIconProvider(nameOnlyIcons());
}

}  // namespace ui
