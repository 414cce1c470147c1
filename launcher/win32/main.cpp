// halvrecht_patcher.exe: the program a player starts from the game folder.
#include <windows.h>
#include <commctrl.h>

#include "launcher/win32/patch_exp_client_dlg.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), 0xFF};
  InitCommonControlsEx(&controls);
  launcher::win32::CPatchExpClientDlg dialog(instance);
  dialog.DoModal();
  return 0;
}
