#pragma once

struct _XDisplay;

// Presses keys on the X server from a connection of the test's own, the way
// another program would.
class TestKeyboard
{
public:
    static constexpr unsigned leftShift = 50;
    static constexpr unsigned rightShift = 62;
    static constexpr unsigned r = 27;

    TestKeyboard();
    ~TestKeyboard();
    TestKeyboard(const TestKeyboard &) = delete;
    TestKeyboard &operator=(const TestKeyboard &) = delete;

    bool isOpen() const { return m_display != nullptr; }
    void send(unsigned keycode, bool press);
    void tap(unsigned keycode);
    // The same through one slave keyboard (an XTEST device of another master).
    bool sendOnDevice(int deviceId, unsigned keycode, bool press);

private:
    _XDisplay *m_display;
};
