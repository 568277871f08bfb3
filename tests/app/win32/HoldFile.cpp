// Opens the file named by its only argument for reading with share mode 0 and holds it until
// it is ended, as another program that has the file open does.
#include <windows.h>

int wmain(int argc, wchar_t* argv[]) {
    if (argc != 2) {
        return 2;
    }
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    Sleep(INFINITE);
    return 0;
}
