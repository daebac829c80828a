// The application's font with a regular-weight Japanese face named as its
// fallback, so that Japanese text in lists, fields and trees is drawn in
// the same weight as the Latin text beside it, whatever face the font
// configuration would pick on its own (it may offer a bold one first).
#pragma once

namespace ui {

// Sets the application font once; later calls do nothing.
void useRegularJapaneseFallback();

} // namespace ui
