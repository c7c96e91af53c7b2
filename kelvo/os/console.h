// Sets up the Windows console streams the way kelvo writes them.
#pragma once

// Standard output becomes binary, so what kelvo prints (JSON above all) has the same bytes as
// on other systems; a console on standard error learns the escape sequences the progress bar
// redraws itself with.
void PrepareConsoleStreams();
