#include "FileListBox.h"

#include "FolderFiles.h"

#include <QDir>

#include <algorithm>

namespace tova {

FileListBox::FileListBox(QWidget* parent)
    : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Every row is one line of text; without this a folder of 100,000 files is measured row by
    // row each time the list changes.
    setUniformItemSizes(true);
}

bool FileListBox::setPath(const QString& folder) {
    m_path = folder;
    m_files.clear();
    for (const FolderFile& file : folderFiles(folder, false))
        m_files.append(file.name);
    std::sort(m_files.begin(), m_files.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    clear();
    addItems(m_files);
    return QDir(folder).exists();
}

void FileListBox::showOnly(const std::function<bool(const QString&)>& keep) {
    const QString selected = FileName();
    QStringList shown;
    qsizetype selectedRow = -1;
    for (const QString& file : m_files) {
        if (keep && !keep(file)) continue;
        if (file == selected) selectedRow = shown.size();
        shown.append(file);
    }
    clear();
    addItems(shown);
    if (selectedRow >= 0) setCurrentRow(int(selectedRow));
}

QString FileListBox::FileName() const {
    const QList<QListWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? QString() : selected.constFirst()->text();
}

} // namespace tova
