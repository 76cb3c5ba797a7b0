#include "FileListBox.h"

#include <QDir>

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
    const QDir dir(folder);
    m_files =
        dir.exists() ? dir.entryList(QDir::Files, QDir::Name | QDir::IgnoreCase) : QStringList();
    clear();
    addItems(m_files);
    return dir.exists();
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
