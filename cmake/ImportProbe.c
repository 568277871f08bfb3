/* A program that imports zlib1.dll, for the test of the import table test. */
#include <zlib.h>

int main(void) {
    return zlibVersion()[0] == '1' ? 0 : 1;
}
