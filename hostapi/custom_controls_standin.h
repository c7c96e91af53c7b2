// Platform stand-in: what the stand-in custom controls let tests observe.
#pragma once

// How often InitCustomControls has been called in this process.
int StandInCustomControlsInitCount();
