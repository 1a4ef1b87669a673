// A second start: takes the instance lock the way the program does, logging into
// the folder given as the only argument. Exits with EnsureSingleInstance's result.
#include "app/startup_tasks.h"
#include "core/log.h"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    InitLogAt(argv[1]);
    platform::InstanceLock lock;
    return EnsureSingleInstance(&lock);
}
