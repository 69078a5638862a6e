/* accprobe: what a screen reader finds in a window, through the system's
 * accessibility interfaces. Reads commands from standard input, one a line,
 * and answers on standard output, every answer ending with a line "end":
 *   use TITLE   the top-level window titled TITLE (UTF-8): AccessibleObjectFromWindow
 *               for its client area, then a QueryInterface for IAccessible through
 *               the object got: "qi=ok children=N name=..." or "qi=failed HRESULT"
 *   walk        one line per child, locations in the window's client coordinates:
 *               child ID role=R state=S loc=X,Y,W,H name="" value="" desc="" action=""
 *   hit X Y     the child under a client point: "hit ID" (0: the window itself)
 *   do ID       accDoDefaultAction on a child: "do HRESULT"
 *   events      name, value and state changes of the window's children, and
 *               alerts of its process, since the last call: "event HEX ID"
 * The IAccessible identifier is spelled out: linked with oleacc, MinGW's
 * IID_IAccessible is an import thunk, not the identifier. */
#define COBJMACROS
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <oleacc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const GUID kIidAccessible = {0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

#define MAX_EVENTS 4096
static struct { DWORD event; LONG child; } events[MAX_EVENTS];
static int eventCount;
static HWND target;
static DWORD targetProcess;
static IAccessible *acc;

static void CALLBACK onEvent(HWINEVENTHOOK hook, DWORD event, HWND w, LONG object, LONG child, DWORD thread,
                             DWORD time)
{
    DWORD pid = 0;
    (void)hook, (void)thread, (void)time;
    if (event == EVENT_SYSTEM_ALERT) {
        GetWindowThreadProcessId(w, &pid);
        if (pid != targetProcess)
            return;
    } else if (w != target || object != OBJID_CLIENT) {
        return;
    }
    if (eventCount < MAX_EVENTS) {
        events[eventCount].event = event;
        events[eventCount].child = child;
        ++eventCount;
    }
}

/* A BSTR as a quoted UTF-8 text; frees it. */
static void printText(const char *key, BSTR text)
{
    char utf8[1024];
    int i;
    utf8[0] = 0;
    if (text && !WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, NULL, NULL))
        utf8[0] = 0;
    SysFreeString(text);
    printf(" %s=\"", key);
    for (i = 0; utf8[i]; ++i) {
        if (utf8[i] == '"' || utf8[i] == '\\')
            putchar('\\');
        putchar(utf8[i] == '\n' ? ' ' : utf8[i]);
    }
    putchar('"');
}

static VARIANT childVariant(LONG id)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

static void use(const char *title)
{
    wchar_t wide[256];
    IAccessible *again = NULL;
    HRESULT hr;
    long n = 0;
    BSTR name = NULL;
    if (acc) {
        IAccessible_Release(acc);
        acc = NULL;
    }
    MultiByteToWideChar(CP_UTF8, 0, title, -1, wide, 256);
    target = FindWindowW(NULL, wide);
    if (!target) {
        printf("no window\n");
        return;
    }
    GetWindowThreadProcessId(target, &targetProcess);
    hr = AccessibleObjectFromWindow(target, OBJID_CLIENT, &kIidAccessible, (void **)&acc);
    if (SUCCEEDED(hr))
        hr = IAccessible_QueryInterface(acc, &kIidAccessible, (void **)&again);
    if (FAILED(hr)) {
        printf("qi=failed %08lx\n", (unsigned long)hr);
        return;
    }
    IAccessible_Release(again);
    IAccessible_get_accChildCount(acc, &n);
    IAccessible_get_accName(acc, childVariant(CHILDID_SELF), &name);
    printf("qi=ok children=%ld", n);
    printText("name", name);
    putchar('\n');
}

static void walk(void)
{
    long n = 0, i, x, y, w, h;
    POINT origin = {0, 0};
    if (!acc)
        return;
    ClientToScreen(target, &origin);
    IAccessible_get_accChildCount(acc, &n);
    for (i = 1; i <= n; ++i) {
        VARIANT id = childVariant(i), role, state;
        BSTR text;
        VariantInit(&role);
        VariantInit(&state);
        IAccessible_get_accRole(acc, id, &role);
        IAccessible_get_accState(acc, id, &state);
        x = y = w = h = 0;
        IAccessible_accLocation(acc, &x, &y, &w, &h, id);
        printf("child %ld role=%ld state=%lx loc=%ld,%ld,%ld,%ld", i, role.vt == VT_I4 ? role.lVal : -1L,
               state.vt == VT_I4 ? state.lVal : 0L, x - origin.x, y - origin.y, w, h);
        text = NULL;
        IAccessible_get_accName(acc, id, &text);
        printText("name", text);
        text = NULL;
        IAccessible_get_accValue(acc, id, &text);
        printText("value", text);
        text = NULL;
        IAccessible_get_accDescription(acc, id, &text);
        printText("desc", text);
        text = NULL;
        IAccessible_get_accDefaultAction(acc, id, &text);
        printText("action", text);
        putchar('\n');
    }
}

static void command(char *line)
{
    long a, b;
    line[strcspn(line, "\r\n")] = 0;
    if (!strncmp(line, "use ", 4)) {
        use(line + 4);
    } else if (!strcmp(line, "walk")) {
        walk();
    } else if (sscanf(line, "hit %ld %ld", &a, &b) == 2 && acc) {
        POINT p = {a, b};
        VARIANT got;
        VariantInit(&got);
        ClientToScreen(target, &p);
        IAccessible_accHitTest(acc, p.x, p.y, &got);
        printf("hit %ld\n", got.vt == VT_I4 ? got.lVal : -1L);
        VariantClear(&got);
    } else if (sscanf(line, "do %ld", &a) == 1 && acc) {
        printf("do %08lx\n", (unsigned long)IAccessible_accDoDefaultAction(acc, childVariant(a)));
    } else if (!strcmp(line, "events")) {
        int i;
        for (i = 0; i < eventCount; ++i)
            printf("event %lx %ld\n", (unsigned long)events[i].event, (long)events[i].child);
        eventCount = 0;
    }
    printf("end\n");
    fflush(stdout);
}

static DWORD mainThread;

static DWORD WINAPI readCommands(void *unused)
{
    char line[512];
    (void)unused;
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
    SetWinEventHook(EVENT_SYSTEM_ALERT, EVENT_SYSTEM_ALERT, NULL, onEvent, 0, 0, WINEVENT_OUTOFCONTEXT);
    CloseHandle(CreateThread(NULL, 0, readCommands, NULL, 0, NULL));
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        if (msg.message == WM_APP && !msg.hwnd) {
            command((char *)msg.lParam);
            free((void *)msg.lParam);
            continue;
        }
        DispatchMessageW(&msg);
    }
    if (acc)
        IAccessible_Release(acc);
    CoUninitialize();
    return 0;
}
