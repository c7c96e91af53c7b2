// The value rules of the host's spinner control: limits, steps and typed text.
#pragma once

// Brings `value` into [minimum, maximum]; the limits may come in either order.
int ClampSpinnerValue(int value, int minimum, int maximum);

// The value after one step up (+1) or down (-1), held within the limits.
int StepSpinnerValue(int value, int step, int minimum, int maximum);

// The value a typed text gives: a whole number (optional sign, surrounding blanks allowed)
// within the limits is taken as it is; one outside them becomes the nearer limit; any other
// text (empty, letters, a fraction) keeps `current`, held within the limits.
int SpinnerValueFromText(const char* text, int current, int minimum, int maximum);
