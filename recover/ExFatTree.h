// An exFAT volume's folders, walked from the root: every entry, live and
// deleted, and the clusters in use. On exFAT the allocation bitmap, not the
// FAT, says which clusters are in use: a file kept in one run has no chain
// in the FAT at all. The bitmap's and the up-case table's clusters and the
// folders' are in use too.
#pragma once

#include "recover/CardFileSystem.h"
#include "recover/FatTable.h"

namespace VEKRecover {

// Fills out's map and entries from the volume's tree; false, with out's
// map and entries left empty, where the root lists no allocation bitmap
// that covers the clusters. Throws the source's read failure.
bool ReadExFatTree(const Source& source, const FatLayout& layout, FatTable& fat, CardFileSystem& out);

}  // namespace VEKRecover
