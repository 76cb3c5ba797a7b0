#include "CommonDialog.h"

#include <QFileDialog>
#include <QFileInfo>

namespace tova {

QString QtFileDialogs::saveFileName(QWidget* parent, const QString& filter)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(filter);
    // The filter's own extension: "*.wav" gives ".wav", "*.csv" ".csv".
    dialog.setDefaultSuffix(QFileInfo(filter).suffix());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
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
