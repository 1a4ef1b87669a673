// talvora-test-sleeper: waits until it is killed, whatever its arguments. Tests copy it
// under the names of other programs to have them "running".
#include <unistd.h>

int main() {
    for (;;) pause();
}
