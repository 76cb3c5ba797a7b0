#pragma once

#include "Seam.h"

#include <QString>

#include <stdexcept>

class QWidget;

namespace tova {

// The save-file and open-file dialogs as the desktop shows them. Return the chosen path, empty
// when cancelled. A filter may offer several types: "CSV (*.csv);;Excel (*.xlsx)".
class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    virtual QString saveFileName(QWidget* parent, const QString& filter) = 0;
    virtual QString openFileName(QWidget* parent, const QString& filter) = 0;
};

class QtFileDialogs : public FileDialogs {
public:
    QString saveFileName(QWidget* parent, const QString& filter) override;
    QString openFileName(QWidget* parent, const QString& filter) override;
};

using FileDialogSeam = Seam<FileDialogs, QtFileDialogs>;

struct DialogCancelled : std::runtime_error {
    DialogCancelled();
};

// A file-dialog component: holds a file name and shows the save-file dialog on request.
class CommonDialog {
public:
    QString FileName() const { return m_fileName; }
    void setFileName(const QString& fileName) { m_fileName = fileName; }
    void setCancelError(bool raise) { m_cancelError = raise; }
    void setFilter(const QString& filter) { m_filter = filter; }

    // Shows the dialog; a chosen path goes to FileName. Cancelling throws DialogCancelled
    // when CancelError is set and leaves FileName as it was otherwise.
    void ShowSave(QWidget* owner);

private:
    QString m_fileName;
    QString m_filter;
    bool m_cancelError = false;
};

} // namespace tova
