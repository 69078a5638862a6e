/* wininfo: prints every top-level window of this wineserver with its child
 * controls and their texts, one line each, so tests can read what a message
 * box says without a screenshot.
 *   top <hwnd> pid=<pid> vis=<0|1> class="..." title="..." rect=l,t,r,b
 *     child <hwnd> id=<id> class="..." text="..."
 * Texts are UTF-8 with \n, \r, \t, \" and \\ escaped. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdio.h>

static HANDLE out;

static void put(const char *s, int n)
{
    DWORD done;
    WriteFile(out, s, (DWORD)n, &done, NULL);
}

static void puts_utf8(const char *s) { put(s, lstrlenA(s)); }

static void put_quoted(const WCHAR *w)
{
    static char utf8[16384];
    static char esc[32768];
    int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, utf8, sizeof utf8, NULL, NULL);
    int j = 0;
    esc[j++] = '"';
    for (int i = 0; i < n - 1 && j < (int)sizeof esc - 4; ++i) {
        char c = utf8[i];
        if (c == '\n') { esc[j++] = '\\'; esc[j++] = 'n'; }
        else if (c == '\r') { esc[j++] = '\\'; esc[j++] = 'r'; }
        else if (c == '\t') { esc[j++] = '\\'; esc[j++] = 't'; }
        else if (c == '"' || c == '\\') { esc[j++] = '\\'; esc[j++] = c; }
        else esc[j++] = c;
    }
    esc[j++] = '"';
    put(esc, j);
}

/* WM_GETTEXT is marshalled across processes, unlike GetWindowText on another
 * process's control; the timeout keeps a hung target from hanging us. */
static void window_text(HWND h, WCHAR *buf, int cap)
{
    DWORD_PTR got = 0;
    buf[0] = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXT, (WPARAM)cap, (LPARAM)buf,
                             SMTO_ABORTIFHUNG, 2000, &got))
        GetWindowTextW(h, buf, cap);
    buf[cap - 1] = 0;
}

static BOOL CALLBACK on_child(HWND h, LPARAM unused)
{
    (void)unused;
    static WCHAR cls[256], text[4096];
    char line[96];
    GetClassNameW(h, cls, 256);
    window_text(h, text, 4096);
    snprintf(line, sizeof line, "  child %p id=%ld class=", (void *)h,
             (long)GetDlgCtrlID(h));
    puts_utf8(line);
    put_quoted(cls);
    puts_utf8(" text=");
    put_quoted(text);
    puts_utf8("\n");
    return TRUE;
}

static BOOL CALLBACK on_top(HWND h, LPARAM unused)
{
    (void)unused;
    static WCHAR cls[256], title[4096];
    char line[160];
    DWORD pid = 0;
    RECT r;
    GetWindowThreadProcessId(h, &pid);
    GetWindowRect(h, &r);
    GetClassNameW(h, cls, 256);
    window_text(h, title, 4096);
    snprintf(line, sizeof line, "top %p pid=%lu vis=%d class=", (void *)h,
             (unsigned long)pid, IsWindowVisible(h) ? 1 : 0);
    puts_utf8(line);
    put_quoted(cls);
    puts_utf8(" title=");
    put_quoted(title);
    snprintf(line, sizeof line, " rect=%ld,%ld,%ld,%ld\n", r.left, r.top,
             r.right, r.bottom);
    puts_utf8(line);
    EnumChildWindows(h, on_child, 0);
    return TRUE;
}

int main(void)
{
    out = GetStdHandle(STD_OUTPUT_HANDLE);
    EnumWindows(on_top, 0);
    return 0;
}
