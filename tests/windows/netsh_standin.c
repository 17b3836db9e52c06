/* Takes the place of netsh.exe in the installer test's wine prefix (wine's own is a stub that does
 * nothing): answers as netsh does, or, while C:\netsh-fails exists, fails as netsh does where the
 * firewall service is not running; and appends its exit status and arguments to
 * C:\netsh-calls.txt, one call a line, a tab between fields, in UTF-8. */
#include <stdio.h>
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    int fails = GetFileAttributesW(L"C:\\netsh-fails") != INVALID_FILE_ATTRIBUTES;
    FILE* calls = _wfopen(L"C:\\netsh-calls.txt", L"ab");
    if (calls == NULL) {
        return 2;
    }
    fprintf(calls, "%d", fails);
    for (int i = 1; i < argc; ++i) {
        char arg[4096] = "";
        WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, arg, sizeof arg, NULL, NULL);
        fprintf(calls, "\t%s", arg);
    }
    fputc('\n', calls);
    fclose(calls);
    if (fails) {
        puts("An error occurred while attempting to contact the Windows Defender Firewall service.");
        return 1;
    }
    puts("Ok.");
    return 0;
}
