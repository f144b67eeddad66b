// Lengths at a screen's DPI. The browser's sizes are designed, and its remembered layout is stored, in
// units of a pixel at 96 DPI, so a layout left on one screen comes back the same on a screen of another
// density. Kept apart from the Windows calls that find the DPI, so the arithmetic is tested natively.
#pragma once

constexpr int kDefaultDpi = 96;

// value * numerator / denominator, rounded to the nearest integer with halves away from zero, as the
// system's MulDiv rounds; -1 for a zero denominator or a result an int cannot hold, as MulDiv answers.
int MulDivRounded(int value, int numerator, int denominator);

// `units` (pixels at 96 DPI) in pixels at `dpi`, and back; a DPI below 1 counts as 96. Scaling up and back
// down gives the units again, so a width stored, shown at any DPI and stored again keeps its value.
int ToPixels(int units, int dpi);
int ToUnits(int pixels, int dpi);
// `pixels` at `fromDpi`, shown at `toDpi` (a window moved to a screen of another density).
int Rescale(int pixels, int fromDpi, int toDpi);
