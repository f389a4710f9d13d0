#include "fatalmessage_win.h"

#include <windows.h>

void showWindowsFatalMessageBox(const wchar_t *title, const wchar_t *text)
{
    MessageBoxW(nullptr, text, title, MB_OK | MB_ICONERROR);
}
