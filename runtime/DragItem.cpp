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

DragItem::DragItem() = default;
DragItem::~DragItem() = default;

Ref<::Picture> const& DragItem::Picture() const
{
    if (m_image) {
        m_picture = Picture::fromImage(*m_image);
        m_image.reset();
    }
    return m_picture;
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
    Ref<DragItem> item = make(nullptr, std::move(file));
    if (data.hasImage()) {
        QImage image = qvariant_cast<QImage>(data.imageData());
        if (!image.isNull())
            item->m_image = std::make_unique<QImage>(std::move(image));
    }
    return item;
}
