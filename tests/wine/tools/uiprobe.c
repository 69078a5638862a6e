/* uiprobe: how long a window's thread keeps its messages waiting.
 *   uiprobe TITLE SECONDS
 * For SECONDS, sends WM_NULL to the top-level window titled TITLE every 5 ms
 * and times each answer (SendMessageTimeout, 10 s at most); prints one line
 *   probes=<n> max_ms=<longest answer> p99_ms=<99th percentile>
 * A thread blocked in a request, a sleep or a long loop answers late: the
 * longest answer is the longest stall of that window's message loop.
 * Exit code 2 when the window is not found. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#define MAX_PROBES 200000

static double answers[MAX_PROBES];

static int by_value(const void *a, const void *b)
{
    double x = *(const double *)a, y = *(const double *)b;
    return x < y ? -1 : x > y;
}

int wmain(int argc, wchar_t **argv)
{
    HWND window;
    LARGE_INTEGER freq, start, t0, t1;
    double seconds, longest = 0;
    int n = 0;
    DWORD_PTR result;
    if (argc != 3) {
        fwprintf(stderr, L"usage: uiprobe TITLE SECONDS\n");
        return 1;
    }
    window = FindWindowW(NULL, argv[1]);
    if (!window) {
        fwprintf(stderr, L"no window titled %ls\n", argv[1]);
        return 2;
    }
    seconds = _wtof(argv[2]);
    timeBeginPeriod(1);
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&start);
    for (;;) {
        QueryPerformanceCounter(&t0);
        if ((double)(t0.QuadPart - start.QuadPart) / freq.QuadPart >= seconds || n >= MAX_PROBES)
            break;
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result);
        QueryPerformanceCounter(&t1);
        answers[n] = 1000.0 * (double)(t1.QuadPart - t0.QuadPart) / freq.QuadPart;
        if (answers[n] > longest)
            longest = answers[n];
        ++n;
        Sleep(5);
    }
    qsort(answers, n, sizeof *answers, by_value);
    printf("probes=%d max_ms=%.1f p99_ms=%.1f\n", n, longest, n ? answers[(n * 99) / 100] : 0.0);
    return 0;
}
