#pragma once

#include "runtime/ClassRecord.h"

class FolderItem;
class Picture;
class QMimeData;

// The data of one drop, as the framework presents it to a DropObject
// handler: picture data, a file, or both. Only the first item of a drop of
// several is presented.
class DragItem : public RuntimeClass<DragItem> {
public:
    static ClassRecord buildRecord();

    bool PictureAvailable() const { return static_cast<bool>(m_picture); }
    Ref<::Picture> const& Picture() const { return m_picture; }
    bool FolderItemAvailable() const { return static_cast<bool>(m_file); }
    Ref<::FolderItem> const& FolderItem() const { return m_file; }

    // The first item of Qt's drop data: its image, and its first local file
    // when that file is of a type the filter names.
    static Ref<DragItem> fromMimeData(QMimeData const& data, String const& fileFilter);
    static Ref<DragItem> make(Ref<::Picture> picture, Ref<::FolderItem> file);

private:
    Ref<::Picture> m_picture;
    Ref<::FolderItem> m_file;
};
