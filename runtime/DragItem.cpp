#include "runtime/DragItem.h"

#include "runtime/FileType.h"
#include "runtime/FolderItem.h"
#include "runtime/Picture.h"

#include <QImage>
#include <QMimeData>
#include <QUrl>

ClassRecord DragItem::buildRecord()
{
    return ClassRecordBuilder<DragItem>("DragItem").build();
}

Ref<DragItem> DragItem::make(Ref<::Picture> picture, Ref<::FolderItem> file)
{
    Ref<DragItem> item = RuntimeNewObject<DragItem>();
    item->m_picture = std::move(picture);
    item->m_file = std::move(file);
    return item;
}

Ref<DragItem> DragItem::fromMimeData(QMimeData const& data, String const& fileFilter)
{
    Ref<::FolderItem> file;
    QList<QUrl> const urls = data.urls();
    if (!urls.isEmpty() && urls.first().isLocalFile()) {
        String const path = urls.first().toLocalFile().toStdString();
        if (RuntimeFilterAcceptsFileName(fileFilter, path))
            file = FolderItem::forPath(path);
    }
    Ref<::Picture> picture;
    if (data.hasImage()) {
        QImage const image = qvariant_cast<QImage>(data.imageData());
        if (!image.isNull())
            picture = Picture::fromImage(image);
    }
    return make(std::move(picture), std::move(file));
}
