/* playwav <file.wav>: plays a sound file synchronously through winmm, as a
 * Windows program would, so the test bed's sound path can be checked alone.
 * Exit code 0 when PlaySound reported success. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <mmsystem.h>

int wmain(int argc, wchar_t **argv)
{
    if (argc != 2)
        return 2;
    return PlaySoundW(argv[1], NULL, SND_FILENAME | SND_SYNC | SND_NODEFAULT) ? 0 : 1;
}
