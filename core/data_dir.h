// Where the program keeps the files it writes. Beside the program while its folder is
// writable (a build or an unpacked copy); once installed, where that folder is not
// writable, in the per-user folder $XDG_DATA_HOME/talvora (%LOCALAPPDATA%\Talvora on
// Windows). Every program of the project takes its folders from here.
#pragma once

#include <string>

// The program directory: g_appDir once start-up has set it, else the executable's.
std::string ProgramDir();

// The folder for the log, `config`, qr.bmp, taxDataTmp/, exe/ and downloads, created
// private when it is the per-user one. Never empty while the program directory is known.
std::string DataDir();

// Where to read a settings file such as `url` or "settings.json": the data folder's copy
// when there is one, else the one beside the program.
std::string SettingsFilePath(const std::string& name);
