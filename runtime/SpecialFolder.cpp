#include "runtime/SpecialFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace SpecialFolder {

Ref<FolderItem> Pictures()
{
    QString const pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (!pictures.isEmpty() && QFileInfo(pictures).isDir())
        return FolderItem::forPath(pictures.toStdString());
    return FolderItem::forPath(QDir::homePath().toStdString());
}

}
