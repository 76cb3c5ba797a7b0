#include "FileListBox.h"

#include <QDir>

namespace tova {

FileListBox::FileListBox(QWidget* parent)
    : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
}

bool FileListBox::setPath(const QString& folder) {
    m_path = folder;
    clear();
    const QDir dir(folder);
    if (!dir.exists()) return false;
    addItems(dir.entryList(QDir::Files, QDir::Name | QDir::IgnoreCase));
    return true;
}

QString FileListBox::FileName() const {
    const QList<QListWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? QString() : selected.constFirst()->text();
}

} // namespace tova
