#include "FileListBox.h"

#include "FileNames.h"
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
        m_files.append({file.name, displayFileName(file.name), {}});
    for (File& file : m_files)
        file.folded = file.shown.toCaseFolded();
    std::sort(m_files.begin(), m_files.end(),
              [](const File& a, const File& b) { return a.folded < b.folded; });
    showMatching({});
    return QDir(folder).exists();
}

void FileListBox::fill(const QList<const File*>& files, const QString& selected) {
    clear();
    int selectedRow = -1;
    for (const File* file : files) {
        auto* item = new QListWidgetItem(file->shown);
        item->setData(Qt::UserRole, file->name);
        if (file->name == selected) selectedRow = count();
        addItem(item);
    }
    if (selectedRow >= 0) setCurrentRow(selectedRow);
}

void FileListBox::showMatching(const QString& text, const QSet<QString>& also) {
    const QString folded = text.toCaseFolded();
    QList<const File*> shown;
    for (const File& file : m_files)
        if (file.folded.contains(folded) || also.contains(file.name)) shown.append(&file);
    fill(shown, FileName());
}

bool FileListBox::select(const QString& name) {
    for (int row = 0; row < count(); ++row) {
        if (item(row)->data(Qt::UserRole).toString() != name) continue;
        setCurrentRow(row);
        return true;
    }
    const auto file = std::find_if(m_files.cbegin(), m_files.cend(),
                                   [&](const File& one) { return one.name == name; });
    if (file == m_files.cend()) return false;
    showMatching({});
    return select(name);
}

QString FileListBox::FileName() const {
    const QList<QListWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? QString() : selected.constFirst()->data(Qt::UserRole).toString();
}

} // namespace tova
