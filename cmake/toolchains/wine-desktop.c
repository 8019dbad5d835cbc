/* Holds wine's desktop open for as long as it runs. The first program in a prefix that makes a
   window (Qt makes a message-only one in every program) starts the desktop process, explorer.exe,
   which keeps that program's Unix stderr open and lives until a second after the last program on
   the desktop has gone; a test run under CTest then "hangs" until it is stopped, its output pipe
   held by explorer.exe. Started once with stderr on /dev/null, this program is the one that starts
   the desktop, and it keeps the desktop from ever closing while the tests run. */
#include <windows.h>

int main(void) {
  HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
  if (window == NULL) return 1;
  Sleep(INFINITE);
  return 0;
}
