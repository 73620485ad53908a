#include "platform/x11/UsAnsiKeys.h"

#include <X11/keysym.h>

#include <array>

namespace
{

struct Key {
    quint16 code;
    unsigned long plain;
    unsigned long shifted;
};

constexpr std::array<Key, 51> keys = { {
    { 0, XK_a, XK_A },
    { 1, XK_s, XK_S },
    { 2, XK_d, XK_D },
    { 3, XK_f, XK_F },
    { 4, XK_h, XK_H },
    { 5, XK_g, XK_G },
    { 6, XK_z, XK_Z },
    { 7, XK_x, XK_X },
    { 8, XK_c, XK_C },
    { 9, XK_v, XK_V },
    { 11, XK_b, XK_B },
    { 12, XK_q, XK_Q },
    { 13, XK_w, XK_W },
    { 14, XK_e, XK_E },
    { 15, XK_r, XK_R },
    { 16, XK_y, XK_Y },
    { 17, XK_t, XK_T },
    { 18, XK_1, XK_exclam },
    { 19, XK_2, XK_at },
    { 20, XK_3, XK_numbersign },
    { 21, XK_4, XK_dollar },
    { 22, XK_6, XK_asciicircum },
    { 23, XK_5, XK_percent },
    { 24, XK_equal, XK_plus },
    { 25, XK_9, XK_parenleft },
    { 26, XK_7, XK_ampersand },
    { 27, XK_minus, XK_underscore },
    { 28, XK_8, XK_asterisk },
    { 29, XK_0, XK_parenright },
    { 30, XK_bracketright, XK_braceright },
    { 31, XK_o, XK_O },
    { 32, XK_u, XK_U },
    { 33, XK_bracketleft, XK_braceleft },
    { 34, XK_i, XK_I },
    { 35, XK_p, XK_P },
    { 36, XK_Return, XK_Return },
    { 37, XK_l, XK_L },
    { 38, XK_j, XK_J },
    { 39, XK_apostrophe, XK_quotedbl },
    { 40, XK_k, XK_K },
    { 41, XK_semicolon, XK_colon },
    { 42, XK_backslash, XK_bar },
    { 43, XK_comma, XK_less },
    { 44, XK_slash, XK_question },
    { 45, XK_n, XK_N },
    { 46, XK_m, XK_M },
    { 47, XK_period, XK_greater },
    { 48, XK_Tab, XK_ISO_Left_Tab },
    { 49, XK_space, XK_space },
    { 50, XK_grave, XK_asciitilde },
    { 51, XK_BackSpace, XK_BackSpace },
} };

} // namespace

unsigned long usAnsiKeysym(quint16 keyCode, bool shift)
{
    for (const Key &key : keys) {
        if (key.code == keyCode)
            return shift ? key.shifted : key.plain;
    }
    return 0;
}
