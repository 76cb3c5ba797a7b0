#pragma once

#include <QListWidget>
#include <QSet>

namespace tova {

// A list of the files of one folder, by name, one selectable at a time. It reads the folder
// when the folder is set and not again; it can show only some of those files. A name that is
// not UTF-8 is shown as displayFileName reads it and kept as fileNameFromBytes gives it.
class FileListBox : public QListWidget {
    Q_OBJECT
public:
    explicit FileListBox(QWidget* parent = nullptr);

    QString Path() const { return m_path; }
    // Lists every file of `folder` but the hidden ones; false when the folder does not exist,
    // and the list is then empty.
    bool setPath(const QString& folder);

    // Shows the files of the folder whose name as shown holds text, ignoring case, and those
    // named in also; all of them for an empty text. The selected file stays selected while it
    // is shown.
    void showMatching(const QString& text, const QSet<QString>& also = {});
    // Selects the file of that name, shown or not; false when the folder has none.
    bool select(const QString& name);

    // The selected file's name without its folder, empty when nothing is selected.
    QString FileName() const;

private:
    struct File {
        QString name;
        QString shown;
        QString folded; // shown, case folded once: a search compares 100,000 of them
    };
    void fill(const QList<const File*>& files, const QString& selected);

    QString m_path;
    QList<File> m_files;
};

} // namespace tova
