// The control that has the keyboard focus, made plain to see.
#pragma once

class QWidget;

namespace ui {

// From now on, whichever control of `window` has the keyboard focus gets a
// frame in the highlight colour around it, drawn outside the control: the
// lists on their own background colours, the genre box painted by its style
// sheet and an empty list show no focus of their own, or hardly any.
void showKeyboardFocus(QWidget *window);

} // namespace ui
