// How long one write call may be. One call that covers a whole 2 MiB-aligned
// stretch of the file lets Linux back it with a 2 MiB page-cache folio. On
// the VM measured, such blocks were the ones the guest had handed back to
// its host, which had to supply them again: a 4K frame in one call took ten
// times as long as in 512 KiB pieces. So a write longer than a piece is cut
// at piece boundaries of the file; a shorter one (a small frame and its
// chunk header) stays one call. Windows programs run under Wine on Linux
// and reach the same page cache, so both targets cut alike.
#pragma once

#include <cstdint>

namespace avi {

constexpr uint64_t kWritePiece = uint64_t(512) << 10;

// The bytes of `left` that the call starting at `offset` writes.
inline uint64_t writeCallSize(uint64_t offset, uint64_t left)
{
    return left <= kWritePiece ? left : kWritePiece - offset % kWritePiece;
}

} // namespace avi
