#include "CommonDialog.h"

#include <QFileDialog>
#include <QRegularExpression>

namespace tova {

namespace {

// The chosen type's own extension: "*.wav" gives ".wav", "Excel (*.xlsx)" ".xlsx".
QString suffixOf(const QString& filter)
{
    static const QRegularExpression pattern(QStringLiteral("\\*\\.(\\w+)"));
    return pattern.match(filter).captured(1);
}

QString chosenFile(QFileDialog& dialog)
{
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

} // namespace

QString QtFileDialogs::saveFileName(QWidget* parent, const QString& filter)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(suffixOf(filter));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog](const QString& chosen) { dialog.setDefaultSuffix(suffixOf(chosen)); });
    return chosenFile(dialog);
}

QString QtFileDialogs::openFileName(QWidget* parent, const QString& filter)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(filter);
    return chosenFile(dialog);
}

DialogCancelled::DialogCancelled()
    : std::runtime_error("the save-file dialog was cancelled")
{
}

void CommonDialog::ShowSave(QWidget* owner)
{
    const QString chosen = FileDialogSeam::get().saveFileName(owner, m_filter);
    if (!chosen.isEmpty())
        m_fileName = chosen;
    else if (m_cancelError)
        throw DialogCancelled();
}

} // namespace tova
