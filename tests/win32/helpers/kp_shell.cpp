// Stands in for a running invoicing program: stays up until it is ended, at most a
// minute so a forgotten one cannot outlive the suite for long.
#include <windows.h>

int main() {
    Sleep(60000);
    return 0;
}
