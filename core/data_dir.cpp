#include "core/data_dir.h"

#include "core/globals.h"
#include "core/text.h"
#include "platform/fs.h"
#include "platform/private_files.h"
#include "platform/user_dirs.h"

namespace {

#ifdef _WIN32
constexpr char kUserFolder[] = "Talvora";
#else
constexpr char kUserFolder[] = "talvora";
#endif

// Creates `path` and any missing parents below an existing folder, private to the user.
bool MakePrivateDirs(const std::string& path) {
    if (platform::IsDirectory(path)) return true;
    size_t cut = path.find_last_of(platform::kPathSep);
    if (cut != std::string::npos && cut > 0) {
        std::string parent = path.substr(0, cut);
#ifdef _WIN32
        // "C:" is a drive, not a folder to create.
        if (!(parent.size() == 2 && parent[1] == ':') && !MakePrivateDirs(parent)) return false;
#else
        if (!MakePrivateDirs(parent)) return false;
#endif
    }
    return platform::CreatePrivateDir(path);
}

}  // namespace

std::string ProgramDir() {
    return g_appDir.empty() ? GetAppDir() : g_appDir;
}

std::string DataDir() {
    std::string programDir = ProgramDir();
    if (platform::DirWritable(programDir)) return programDir;
    std::string base = platform::UserDataHome();
    if (base.empty()) return programDir;
    std::string dir = JoinPath(base, kUserFolder);
    // Without the per-user folder nothing can be written anywhere; the program folder
    // at least names where the files were meant to go.
    return MakePrivateDirs(dir) ? dir : programDir;
}

std::string SettingsFilePath(const std::string& name) {
    std::string own = JoinPath(DataDir(), name);
    if (platform::FileExists(own)) return own;
    return JoinPath(ProgramDir(), name);
}
