// The sign-in record g_config, the service environment g_url, and the machine-bound
// `config` file that remembers accounts between runs.
#pragma once

#include <mutex>
#include <string>
#include <vector>

struct SavedAccount {
    std::wstring us;  // account (mobile number)
    std::wstring pw;  // password as typed
};

struct ConfigData {
    bool signedIn = false;
    bool agree = false;
    bool isUat = false;
    bool autoLogin = false;
    int rememPw = 0;
    int area = 0;
    std::vector<SavedAccount> usList;  // most recent first
    std::wstring account;
    std::wstring password;
    int role = 0;  // 0 agency, 1 member, 2 anything else
    std::string accessToken;
    std::string refreshToken;
    // The data tab's daily automatic backup; older versions ignore these members.
    bool autoBak = false;
    std::string autoBakTime = "02:30";  // China time, "HH:MM"
    int autoBakKeep = 0;                // copies per company to keep; 0 keeps all
    long long autoBakLast = 0;          // seconds since 1970 when the last run ended
};

// The UI thread and sign-in workers both write it: hold `mutex` for every access,
// or work on a Snapshot().
struct Config : ConfigData {
    mutable std::mutex mutex;
    ConfigData Snapshot() const {
        std::lock_guard<std::mutex> guard(mutex);
        return static_cast<const ConfigData&>(*this);
    }
};

extern Config* g_config;
extern std::string g_url;
extern const char kDefaultServiceUrl[];

// Creates g_config and reads the `url` file beside the program. Returns 0.
int LoadServiceUrl();
// Writes the `config` file from g_config (private to the user, replaced whole).
// Returns 0, or -1 when the file could not be written (the old one stays).
int SaveConfig();
// Reads the `config` file into g_config: 0 when remembered accounts were read.
int RestoreConfig();

// The three adapter characters that bind the file to this machine.
std::string ConfigMachineKey();
// Styled JSON of the remembered settings with every password replaced by "***",
// for the log.
std::string MaskedConfigText(const std::string& styledJson);
