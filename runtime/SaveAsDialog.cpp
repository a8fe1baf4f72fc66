#include "runtime/SaveAsDialog.h"

#include "runtime/FileType.h"
#include "runtime/Recorder.h"

#include <QFileDialog>
#include <QSettings>

ClassRecord FolderItemDialog::buildRecord()
{
    return ClassRecordBuilder<FolderItemDialog>("FolderItemDialog").build();
}

ClassRecord SaveAsDialog::buildRecord()
{
    return ClassRecordBuilder<SaveAsDialog>("SaveAsDialog", &FolderItemDialog::Lookup_()).build();
}

namespace {

// "image/png (*.png)" for each registered type the filter names.
QStringList nameFilters(String const& filter, QString& defaultSuffix)
{
    QStringList filters;
    for (RegisteredFileType const& type : RuntimeFileTypesOfFilter(filter)) {
        QStringList patterns;
        for (String const& extension : type.extensions)
            patterns << QStringLiteral("*") + QString::fromStdString(extension);
        if (patterns.isEmpty())
            continue;
        if (defaultSuffix.isEmpty())
            defaultSuffix = QString::fromStdString(type.extensions.front()).mid(1);
        filters << QStringLiteral("%1 (%2)").arg(QString::fromStdString(type.name), patterns.join(QLatin1Char(' ')));
    }
    return filters;
}

// Qt's file dialog reads its history, last folder, sidebar width and column
// layout from the user's "QtProject" settings when it is made, and writes
// them back when it goes. The program keeps nothing between runs, so the
// user scope of QSettings points at /dev/null: no file can be made or read
// under it, even by root, so a dialog starts from Qt's defaults and what it
// writes goes nowhere: it stays, at most, in memory for the run.
void keepSettingsOffDisk()
{
    for (QSettings::Format format : { QSettings::NativeFormat, QSettings::IniFormat })
        QSettings::setPath(format, QSettings::UserScope, QStringLiteral("/dev/null"));
}

}

Ref<FolderItem> SaveAsDialog::ShowModal()
{
    RuntimeRecord("SaveAsDialog.ShowModal", { m_initialDirectory ? m_initialDirectory->path() : "", m_suggestedFileName, m_title, m_filter });
    keepSettingsOffDisk();
    QFileDialog dialog;
    dialog.setObjectName(QStringLiteral("SaveAsDialog"));
    // Qt's own dialog on every desktop: a platform's dialog may keep a list
    // of recent files of its own.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setWindowTitle(QString::fromStdString(m_title));
    if (m_initialDirectory)
        dialog.setDirectory(QString::fromStdString(m_initialDirectory->path()));
    QString suffix;
    QStringList const filters = nameFilters(m_filter, suffix);
    if (!filters.isEmpty())
        dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(suffix);
    if (!m_promptText.empty())
        dialog.setLabelText(QFileDialog::FileName, QString::fromStdString(m_promptText));
    if (!m_actionCaption.empty())
        dialog.setLabelText(QFileDialog::Accept, QString::fromStdString(m_actionCaption));
    if (!m_cancelCaption.empty())
        dialog.setLabelText(QFileDialog::Reject, QString::fromStdString(m_cancelCaption));
    dialog.selectFile(QString::fromStdString(m_suggestedFileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return nullptr;
    return FolderItem::forPath(dialog.selectedFiles().first().toStdString());
}
