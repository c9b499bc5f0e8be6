#include "platform/gui/FileDialogs.h"

#include <QFileDialog>
#include <QPointer>

namespace vantrel {

namespace {

void openDialog(QFileDialog* dialog, QObject* receiver, FileDialogs::Completion done)
{
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<QObject> guard(receiver);
    const bool guarded = receiver != nullptr;
    if (receiver)
        QObject::connect(receiver, &QObject::destroyed, dialog, &QWidget::close);
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, guard, guarded, done = std::move(done)](int result) {
        if (guarded && !guard)
            return;
        std::optional<QUrl> chosen;
        const QList<QUrl> urls = dialog->selectedUrls();
        if (result == QDialog::Accepted && !urls.isEmpty() && !urls.first().isEmpty())
            chosen = urls.first();
        if (done)
            done(chosen);
    });
    dialog->open();
}

} // namespace

FileDialogs& FileDialogs::shared()
{
    static DesktopFileDialogs* instance = new DesktopFileDialogs;
    return *instance;
}

void DesktopFileDialogs::chooseSaveLocation(const SaveOptions& options, QWidget* parent, QObject* receiver,
    Completion done)
{
    auto* dialog = new QFileDialog(parent, options.title, options.directory);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    if (!options.nameFilters.isEmpty())
        dialog->setNameFilters(options.nameFilters);
    if (!options.suggestedName.isEmpty())
        dialog->selectFile(options.suggestedName);
    dialog->setOption(QFileDialog::ReadOnly, !options.canCreateDirectories);
    openDialog(dialog, receiver, std::move(done));
}

void DesktopFileDialogs::chooseFolder(const FolderOptions& options, QWidget* parent, QObject* receiver, Completion done)
{
    auto* dialog = new QFileDialog(parent, options.title, options.directory);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setOption(QFileDialog::ReadOnly, !options.canCreateDirectories);
    openDialog(dialog, receiver, std::move(done));
}

} // namespace vantrel
