#pragma once

// Qt-free so that it can be compile-checked on its own with mingw-w64.
void showWindowsFatalMessageBox(const wchar_t *title, const wchar_t *text);
