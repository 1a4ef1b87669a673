// Prints where the program keeps its files and the service address it read: the data
// folder on the first line, g_url on the second. Writes one log line there.
#include <clocale>
#include <cstdio>

#include "core/data_dir.h"
#include "core/log.h"
#include "core/settings.h"

int main() {
    setlocale(LC_ALL, "");
    InitLog();
    WriteLog("probe\r\n");
    LoadServiceUrl();
    std::printf("%s\n%s\n", DataDir().c_str(), g_url.c_str());
    return 0;
}
