#include "ui/filedialog.h"

#include <QAbstractFileIconProvider>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QIcon>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPointer>
#include <QStyle>
#include <utility>

#include "base/tr.h"
#include "ui/uios.h"

namespace ui {

namespace {

// The theme's icon of that name where the desktop's theme has one; otherwise `otherwise`. An icon
// of a name no theme holds draws nothing, and the dialog's side bar, scaling what it draws, would
// scale nothing (a session without an icon theme).
QIcon themed(const QString& name, const QIcon& otherwise) {
    return !name.isEmpty() && QIcon::hasThemeIcon(name) ? QIcon::fromTheme(name) : otherwise;
}

// Types and icons from the file's name: QMimeDatabase's default match reads the content of every
// file whose name does not decide its type (an SQLite log or index, an unknown extension). Every
// icon draws: the theme's where there is one, else the style's. Made on the UI thread; the lists
// ask for icons on threads of their own, and only read what is made here.
class NameOnlyIcons : public QAbstractFileIconProvider {
  public:
    NameOnlyIcons() {
        const std::pair<const char*, QStyle::StandardPixmap> kinds[] = {
            {"computer", QStyle::SP_ComputerIcon},
            {"user-desktop", QStyle::SP_DesktopIcon},
            {"user-trash", QStyle::SP_TrashIcon},
            {"network-workgroup", QStyle::SP_DriveNetIcon},
            {"drive-harddisk", QStyle::SP_DriveHDIcon},
            {"folder", QStyle::SP_DirIcon},
            {"text-x-generic", QStyle::SP_FileIcon},
        };
        // In the order of IconType: Computer, Desktop, Trashcan, Network, Drive, Folder, File.
        for (const auto& [name, standard] : kinds)
            icons_.push_back(
                themed(QLatin1String(name), QApplication::style()->standardIcon(standard)));
    }
    QIcon icon(IconType type) const override {
        return icons_.value(static_cast<qsizetype>(type), icons_.value(File));
    }
    QIcon icon(const QFileInfo& info) const override {
        if (info.isDir()) return icon(Folder);
        const QMimeType type = byName(info);
        return themed(type.iconName(), themed(type.genericIconName(), icon(File)));
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
    QList<QIcon> icons_;
};

// Shared by every dialog of the process and never deleted: a list may outlive its dialog until
// its deferred deletion.
QAbstractFileIconProvider* nameOnlyIcons() {
    static auto* icons = new NameOnlyIcons;
    return icons;
}

void setNamesOnly(QWidget* root) {
    for (QFileSystemModel* list : root->findChildren<QFileSystemModel*>())
        list->setIconProvider(nameOnlyIcons());
}

// Qt's own dialogs open file dialogs of their own (the print dialog's "..." for the file to print
// to): every window gets its lists told types by name when it is shown, which is before the event
// loop delivers their first listing.
class WindowWatch : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->isWindow())
            setNamesOnly(static_cast<QWidget*>(watched));
        return false;
    }
};

void watchWindows() {
    static QPointer<WindowWatch> watch;  // gone with the application object
    QCoreApplication* app = QCoreApplication::instance();
    if (watch || !app) return;
    watch = new WindowWatch(app);
    app->installEventFilter(watch);
}

// Refuses a name that names a device instead of a file (com1.csv on Windows), which would write to
// the device, and to save over a database in use or the files beside it: the file would be
// replaced under the program recording into it. Told from the names in the folder, as the files
// are not opened.
class SaveDialog : public QFileDialog {
  public:
    using QFileDialog::QFileDialog;

    void accept() override {
        const QString file = selectedFiles().value(0);
        // The device first: looking for the files beside "com1.csv" would look at the port.
        if (const QString device = os::deviceFileName(file); !device.isEmpty()) {
            QMessageBox::warning(this, windowTitle(),
                                 base::Tr::tr("%1 是设备 %2 的名称，不能用作文件名")
                                     .arg(QFileInfo(file).fileName(), device));
            return;
        }
        if (!file.isEmpty() && isDatabaseInUse(file)) {
            QMessageBox::warning(this, windowTitle(),
                                 base::Tr::tr("%1 是正在使用的数据库的文件，不能保存到这里")
                                     .arg(QDir::toNativeSeparators(file)));
            return;
        }
        QFileDialog::accept();
    }
};

}  // namespace

bool isDatabaseInUse(const QString& file) {
    const QString path = QFileInfo(file).absoluteFilePath();
    static const QStringList kBeside{QStringLiteral("-wal"), QStringLiteral("-shm"),
                                     QStringLiteral("-journal"), QStringLiteral(".lock")};
    for (const QString& suffix : kBeside) {
        if (path.endsWith(suffix) && QFileInfo::exists(path.chopped(suffix.size()))) return true;
        if (QFileInfo::exists(path + suffix)) return true;
    }
    return false;
}

std::unique_ptr<QFileDialog> saveDialog(QWidget* parent, const QString& caption,
                                        const QString& path, const QString& filter) {
    // The folder is listed on a thread, and its files are looked at when the listing arrives as
    // an event: the lists tell types by name before the event loop runs again. The file proposed
    // is chosen only then, as choosing it looks at it.
    // A desktop's native dialog is made with the dialog, before an option could decline it.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    auto dialog = std::make_unique<SaveDialog>(parent, caption, QString(), filter);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setIconProvider(nameOnlyIcons());
    namesOnly(dialog.get());
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    // Without a path the dialog stays where it was made: the folder last chosen, else the working
    // folder.
    if (path.isEmpty()) return dialog;
    const QFileInfo target(path);
    const bool folder = target.isDir();
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

void listFilesByNameOnly() {
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    watchWindows();
}

void namesOnly(QWidget* root) {
    watchWindows();
    setNamesOnly(root);
}

}  // namespace ui
