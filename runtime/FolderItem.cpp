#include "runtime/FolderItem.h"

#include <QFileInfo>
#include <QString>

namespace {

QFileInfo infoOf(String const& path)
{
    return QFileInfo(QString::fromStdString(path));
}

}

ClassRecord FolderItem::buildRecord()
{
    return ClassRecordBuilder<FolderItem>("FolderItem").build();
}

Ref<FolderItem> FolderItem::forPath(String path)
{
    Ref<FolderItem> item = RuntimeNewObject<FolderItem>();
    item->m_path = std::move(path);
    return item;
}

String FolderItem::Name() const
{
    // A folder written with a trailing slash still has its own name.
    String trimmed = m_path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    std::size_t const slash = trimmed.rfind('/');
    if (slash == String::npos || trimmed.size() == 1)
        return trimmed;
    return trimmed.substr(slash + 1);
}

bool FolderItem::Exists() const
{
    // A dangling symbolic link is something at the path too.
    QFileInfo const info = infoOf(m_path);
    return info.exists() || info.isSymLink();
}

bool FolderItem::Directory() const
{
    return infoOf(m_path).isDir();
}
