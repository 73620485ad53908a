#include "desktop/TestKeyboard.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput.h>
#include <X11/extensions/XTest.h>

TestKeyboard::TestKeyboard() : m_display(XOpenDisplay(nullptr)) { }

TestKeyboard::~TestKeyboard()
{
    if (m_display)
        XCloseDisplay(m_display);
}

void TestKeyboard::send(unsigned keycode, bool press)
{
    XTestFakeKeyEvent(m_display, keycode, press ? True : False, CurrentTime);
    XSync(m_display, False);
}

void TestKeyboard::tap(unsigned keycode)
{
    send(keycode, true);
    send(keycode, false);
}

bool TestKeyboard::sendOnDevice(int deviceId, unsigned keycode, bool press)
{
    XDevice *device = XOpenDevice(m_display, XID(deviceId));
    if (!device)
        return false;
    XTestFakeDeviceKeyEvent(m_display, device, keycode, press ? True : False, nullptr, 0, CurrentTime);
    XCloseDevice(m_display, device);
    XSync(m_display, False);
    return true;
}
