#include "platform/avi/segment_index.h"

#include <new>

namespace avi {

bool SegmentIndex::reserve(size_t count)
{
    size_t needed = count_ + count;
    size_t clustersNeeded = (needed + kClusterEntries - 1) / kClusterEntries;
    if (clustersNeeded <= clusters_.size())
        return true;
    try {
        clusters_.reserve(clustersNeeded);
    } catch (const std::bad_alloc&) {
        return false;
    }
    while (clusters_.size() < clustersNeeded) {
        IndexEntry* cluster = new (std::nothrow) IndexEntry[kClusterEntries];
        if (!cluster)
            return false;
        clusters_.emplace_back(cluster);
    }
    return true;
}

} // namespace avi
