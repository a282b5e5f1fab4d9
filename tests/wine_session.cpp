// Started before the tests under Wine and stopped after them, this keeps one
// Wine session up, so that each test's program starts in a fraction of a
// second instead of several seconds. It creates the file named by its
// argument once the session is up (a program that joins a session still
// starting can hang), then sleeps for up to half an hour.
#include <windows.h>

int main(int argc, char** argv)
{
    if (argc > 1) {
        const HANDLE ready =
            CreateFileA(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (ready != INVALID_HANDLE_VALUE)
            CloseHandle(ready);
    }
    Sleep(30 * 60 * 1000);
    return 0;
}
