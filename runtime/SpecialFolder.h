#pragma once

#include "runtime/FolderItem.h"

// The user's well-known folders.
namespace SpecialFolder {

// The user's Pictures folder, or the home folder when the system names no
// Pictures folder or the one it names does not exist.
Ref<FolderItem> Pictures();

}
