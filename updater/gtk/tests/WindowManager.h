#pragma once

#include <gtk/gtk.h>

namespace vrexa::updater::gtk {

// Asks the window to close the way a window manager's close button does: the
// X server delivers WM_DELETE_WINDOW to it. Kept apart from the tests, whose
// framework clashes with the names Xlib defines.
void PressCloseButton(GtkWidget* window);

}  // namespace vrexa::updater::gtk
