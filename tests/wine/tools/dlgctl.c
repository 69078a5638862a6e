/* dlgctl: drives a dialog of this wineserver the way a user would fill it,
 * for dialogs whose controls have no fixed place on the screen.
 *   dlgctl.exe TITLE ID TEXT   sets the text of control ID (as typing would)
 *   dlgctl.exe TITLE ID        presses button ID, or chooses menu command ID
 *                              of a window that has no control ID
 * Exit code 0 when the window and the control were found. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

int wmain(int argc, wchar_t **argv)
{
    HWND dialog, control;
    int id;
    DWORD_PTR done = 0;

    if (argc != 3 && argc != 4)
        return 2;
    dialog = FindWindowW(NULL, argv[1]);
    if (!dialog)
        return 1;
    id = _wtoi(argv[2]);
    control = GetDlgItem(dialog, id);
    if (!control && argc == 4)
        return 1;
    if (argc == 4) {
        /* WM_SETTEXT is marshalled across processes; the edit control tells
         * its dialog of the change as it does for typed text. */
        if (!SendMessageTimeoutW(control, WM_SETTEXT, 0, (LPARAM)argv[3], SMTO_ABORTIFHUNG, 5000, &done))
            return 1;
        return 0;
    }
    /* Posted: the dialog may close, and a modal loop must not hold us. */
    return PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, control ? BN_CLICKED : 0), (LPARAM)control) ? 0 : 1;
}
