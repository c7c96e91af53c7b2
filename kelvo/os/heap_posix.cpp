// How kelvo's heap treats the large blocks a frame takes: the GNU C library's malloc options.
#include <malloc.h>

#include "kelvo/os/heap.h"

void KeepFreedFramesForReuse() {
    constexpr int MIB = 1 << 20;
    // Blocks below the mmap threshold come from the heap and go back to it when freed. 32 MiB
    // is the most the library takes on 64-bit systems (a 1080p frame's colour is 16 MiB);
    // blocks of larger frames are still mapped and unmapped one by one. A refused call
    // changes nothing.
    mallopt(M_MMAP_THRESHOLD, 32 * MIB);
    // Free memory at the top of the heap is handed back only beyond this much.
    mallopt(M_TRIM_THRESHOLD, 512 * MIB);
}
