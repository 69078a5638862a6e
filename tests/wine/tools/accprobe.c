/* accprobe: what a screen reader finds in a window. Commands on standard
 * input, one a line; each answer ends with a line "end":
 *   use TITLE  AccessibleObjectFromWindow (client area of the window TITLE), then
 *              QueryInterface for IAccessible through it: "qi=ok children=N" or "qi=failed HR"
 *   walk       per child, tab-separated: "child", id, role, state (hex), x,y,w,h
 *              (client coordinates), name, value, description, default action
 *   hit X Y    "hit ID": the child under a client point (0: the window)
 *   do ID      "do HR": accDoDefaultAction
 *   events     "event HEX ID": name, value and state changes of the window's children since the last call
 * IID_IAccessible is spelled out: MinGW's name may resolve to oleacc's import thunk. */
#define COBJMACROS
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <oleacc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const GUID kIid = {0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
static struct { DWORD event; LONG child; } events[4096];
static int eventCount; static HWND target;
static DWORD mainThread; static IAccessible *acc;

static void CALLBACK onEvent(HWINEVENTHOOK h, DWORD event, HWND w, LONG object, LONG child, DWORD t, DWORD ms)
{
    if (w == target && object == OBJID_CLIENT && eventCount < 4096) {
        events[eventCount].event = event;
        events[eventCount++].child = child;
    }
}

static VARIANT child(LONG id)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

/* A tab, then a BSTR in UTF-8 with its tabs and line breaks as spaces; frees it. */
static void printText(BSTR text)
{
    char utf8[1024] = "";
    int i;
    if (text && !WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, NULL, NULL))
        utf8[0] = 0;
    SysFreeString(text);
    for (i = 0; utf8[i]; ++i)
        if (utf8[i] == '\t' || utf8[i] == '\n')
            utf8[i] = ' ';
    printf("\t%s", utf8);
}

static void use(const char *title)
{
    wchar_t wide[256];
    IAccessible *again = NULL;
    long n = 0;
    HRESULT hr;
    if (acc)
        IAccessible_Release(acc);
    acc = NULL;
    MultiByteToWideChar(CP_UTF8, 0, title, -1, wide, 256);
    target = FindWindowW(NULL, wide);
    hr = AccessibleObjectFromWindow(target, OBJID_CLIENT, &kIid, (void **)&acc);
    if (SUCCEEDED(hr) && SUCCEEDED(hr = IAccessible_QueryInterface(acc, &kIid, (void **)&again))) {
        IAccessible_Release(again);
        IAccessible_get_accChildCount(acc, &n);
        printf("qi=ok children=%ld\n", n);
    } else {
        printf("qi=failed %08lx\n", (unsigned long)hr);
    }
}

static void walk(void)
{
    HRESULT(STDMETHODCALLTYPE * texts[4])(IAccessible *, VARIANT, BSTR *) = {
        acc->lpVtbl->get_accName, acc->lpVtbl->get_accValue, acc->lpVtbl->get_accDescription,
        acc->lpVtbl->get_accDefaultAction};
    long n = 0, i, x, y, w, h;
    int k;
    POINT origin = {0, 0};
    ClientToScreen(target, &origin);
    IAccessible_get_accChildCount(acc, &n);
    for (i = 1; i <= n; ++i) {
        VARIANT role, state;
        VariantInit(&role);
        VariantInit(&state);
        x = y = w = h = 0;
        IAccessible_get_accRole(acc, child(i), &role);
        IAccessible_get_accState(acc, child(i), &state);
        IAccessible_accLocation(acc, &x, &y, &w, &h, child(i));
        printf("child\t%ld\t%ld\t%lx\t%ld,%ld,%ld,%ld", i, role.lVal, state.lVal, x - origin.x, y - origin.y, w, h);
        for (k = 0; k < 4; ++k) {
            BSTR text = NULL;
            texts[k](acc, child(i), &text);
            printText(text);
        }
        putchar('\n');
    }
}

static void command(char *line)
{
    long a, b;
    int i;
    POINT p;
    VARIANT got;
    line[strcspn(line, "\r\n")] = 0;
    if (!strncmp(line, "use ", 4)) {
        use(line + 4);
    } else if (!acc) {
        printf("no object\n");
    } else if (!strcmp(line, "walk")) {
        walk();
    } else if (sscanf(line, "hit %ld %ld", &a, &b) == 2) {
        p.x = a, p.y = b;
        ClientToScreen(target, &p);
        VariantInit(&got);
        IAccessible_accHitTest(acc, p.x, p.y, &got);
        printf("hit %ld\n", got.vt == VT_I4 ? got.lVal : -1L);
        VariantClear(&got);
    } else if (sscanf(line, "do %ld", &a) == 1) {
        printf("do %08lx\n", (unsigned long)IAccessible_accDoDefaultAction(acc, child(a)));
    } else if (!strcmp(line, "events")) {
        for (i = 0; i < eventCount; ++i)
            printf("event %lx %ld\n", (unsigned long)events[i].event, (long)events[i].child);
        eventCount = 0;
    }
    printf("end\n");
    fflush(stdout);
}

static DWORD WINAPI readCommands(void *unused)
{
    char line[512];
    while (fgets(line, sizeof line, stdin))
        PostThreadMessageW(mainThread, WM_APP, 0, (LPARAM)_strdup(line));
    PostThreadMessageW(mainThread, WM_QUIT, 0, 0);
    return 0;
}

int main(void)
{
    MSG msg;
    CoInitialize(NULL);
    mainThread = GetCurrentThreadId();
    PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE); /* the queue exists before the reader posts */
    SetWinEventHook(EVENT_OBJECT_STATECHANGE, EVENT_OBJECT_VALUECHANGE, NULL, onEvent, 0, 0, WINEVENT_OUTOFCONTEXT);
    CloseHandle(CreateThread(NULL, 0, readCommands, NULL, 0, NULL));
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        if (msg.message == WM_APP && !msg.hwnd) {
            command((char *)msg.lParam);
            free((void *)msg.lParam);
        } else {
            DispatchMessageW(&msg);
        }
    }
    return 0;
}
