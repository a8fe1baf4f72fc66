#pragma once

#include "runtime/ClassRecord.h"

#include <memory>

class FolderItem;
class Picture;
class QImage;
class QMimeData;

// The data of one drop, as the framework presents it to a DropObject
// handler: picture data, a file, or both. Only the first item of a drop of
// several is presented. Picture data is made a picture only when it is
// asked for: a handler that takes the file spends nothing on it.
class DragItem : public RuntimeClass<DragItem> {
public:
    static ClassRecord buildRecord();
    DragItem();
    ~DragItem() override;

    bool PictureAvailable() const { return m_picture || m_image; }
    Ref<::Picture> const& Picture() const;
    bool FolderItemAvailable() const { return static_cast<bool>(m_file); }
    Ref<::FolderItem> const& FolderItem() const { return m_file; }

    // The first item of Qt's drop data: its image, and its first local file
    // when that file is of a type the filter names.
    static Ref<DragItem> fromMimeData(QMimeData const& data, String const& fileFilter);
    static Ref<DragItem> make(Ref<::Picture> picture, Ref<::FolderItem> file);

private:
    mutable Ref<::Picture> m_picture;
    mutable std::unique_ptr<QImage> m_image; // picture data not yet made a picture
    Ref<::FolderItem> m_file;
};
