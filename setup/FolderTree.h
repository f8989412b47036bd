#pragma once

#include "UniqueFd.h"

#include <QByteArray>

// Work on folder trees relative to open folder descriptors, names taken as bytes, links
// never followed: a folder swapped for a link while the work runs cannot redirect it.
namespace FolderTree {

// The folder name inside parent, opened for reading without following a link; not valid
// (errno set) when it is no folder.
UniqueFd openFolder(int parent, const QByteArray& name);

// Removes whatever stands at name inside parent: a file, a link (not what it points to),
// or a folder with everything in it, at any depth. Folders of the tree that cannot be
// entered or changed are given their owner's access first; no other mode is touched.
// True when nothing stands at name afterwards.
bool removeEntry(int parent, const QByteArray& name);

} // namespace FolderTree
