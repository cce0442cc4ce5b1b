#pragma once
// Keys every window of the program answers the same way.

namespace ui {

// Enter and Return press the push button that has the focus, as Space does. Only the focused
// button: Enter typed in an entry box sends nothing that the operator did not point at. A key
// held down presses once. Installed once for the whole application; calling it again is harmless.
void pressFocusedButtonOnEnter();

}  // namespace ui
