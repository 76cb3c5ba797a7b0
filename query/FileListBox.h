#pragma once

#include <QListWidget>

namespace tova {

// A list of the files of one folder, by name, one selectable at a time. It reads the folder
// when the folder is set and not again.
class FileListBox : public QListWidget {
    Q_OBJECT
public:
    explicit FileListBox(QWidget* parent = nullptr);

    QString Path() const { return m_path; }
    // Lists every file of `folder`, whatever its name; false when the folder does not exist,
    // and the list is then empty.
    bool setPath(const QString& folder);

    // The selected file's name without its folder, empty when nothing is selected.
    QString FileName() const;

private:
    QString m_path;
};

} // namespace tova
