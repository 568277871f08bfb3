// Opens the file named by its only argument for reading with share mode 0 and holds it until
// it is ended, as another program that has the file open does.
#include <windows.h>

int wmain(int argc, wchar_t* argv[]) {
    if (argc != 2) {
        return 2;
    }
    // The test looks for the moment the file is held by opening it itself, which for that
    // moment keeps this open from succeeding: a sharing violation is tried again.
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 1000 && file == INVALID_HANDLE_VALUE; ++attempt) {
        file = CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() != ERROR_SHARING_VIOLATION) {
                return 1;
            }
            Sleep(5);
        }
    }
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    Sleep(INFINITE);
    return 0;
}
