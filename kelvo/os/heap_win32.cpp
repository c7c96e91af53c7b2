// How kelvo's heap treats the large blocks a frame takes: the C runtime's heap on Windows keeps
// freed blocks for reuse as it is.
#include "kelvo/os/heap.h"

void KeepFreedFramesForReuse() {}
