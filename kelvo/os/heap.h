// How kelvo's heap treats the large blocks a frame takes.
#pragma once

// Keeps the memory of a frame that kelvo frees for the next frame, rather than handing it back
// to the system and taking it again, page by page, for the next: each frame of a sequence
// needs blocks of the same sizes (its decoded colour, the bitmap, the file read back), and
// with the C library's defaults, which return blocks of more than a few MiB at once, a
// worker spent about a third of its time in page faults. The process's peak memory does not
// grow: it is what one frame's blocks already took. Called once, first thing in main.
void KeepFreedFramesForReuse();
