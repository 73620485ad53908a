#include "platform/typing/remotedesktop/XwaylandLayout.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

QSet<quint32> xwaylandLayoutKeysyms()
{
    QSet<quint32> keysyms;
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return keysyms;
    XkbStateRec state;
    XkbDescPtr xkb = XkbGetMap(display, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd);
    if (xkb && XkbGetState(display, XkbUseCoreKbd, &state) == Success) {
        for (int keycode = xkb->min_key_code; keycode <= xkb->max_key_code; ++keycode) {
            const int groups = XkbKeyNumGroups(xkb, keycode);
            if (groups == 0)
                continue;
            const int group = state.group < groups ? state.group : 0;
            const int levels = XkbKeyGroupWidth(xkb, keycode, group);
            // Levels past Shift need AltGr, which the portal's keysym call
            // does not press on every desktop.
            for (int level = 0; level < levels && level < 2; ++level) {
                const KeySym keysym = XkbKeySymEntry(xkb, keycode, level, group);
                if (keysym != NoSymbol)
                    keysyms.insert(quint32(keysym));
            }
        }
    }
    if (xkb)
        XkbFreeKeyboard(xkb, XkbAllComponentsMask, True);
    XCloseDisplay(display);
    return keysyms;
}
