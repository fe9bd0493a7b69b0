#include "updater/gtk/tests/WindowManager.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>

namespace vrexa::updater::gtk {

void PressCloseButton(GtkWidget* window) {
    GdkWindow* drawn = gtk_widget_get_window(window);
    Display* display = GDK_DISPLAY_XDISPLAY(gdk_window_get_display(drawn));
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = GDK_WINDOW_XID(drawn);
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, GDK_WINDOW_XID(drawn), False, NoEventMask, &event);
    XFlush(display);
}

}  // namespace vrexa::updater::gtk
