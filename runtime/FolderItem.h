#pragma once

#include "runtime/ClassRecord.h"

// A file or folder in the file system, named by its path (UTF-8). The item
// only names the place: it may stand for a file that does not exist yet, such
// as the target of a save.
class FolderItem : public RuntimeClass<FolderItem> {
public:
    static ClassRecord buildRecord();
    static Ref<FolderItem> forPath(String path);

    String const& path() const { return m_path; }

    // The last component of the path, without the folders above it.
    String Name() const;
    // True when something exists at the path: a file, a folder or anything else.
    bool Exists() const;
    // True when the path names an existing folder.
    bool Directory() const;

private:
    String m_path;
};
