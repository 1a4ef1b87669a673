// The settings.json reader and the `config` reader. The first byte chooses: even bytes
// feed settings.json, odd ones the `config` file, whose machine key (which a mutated
// input cannot guess) is put in place so the decoding and JSON stages are reached.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/data_dir.h"
#include "core/local_settings.h"
#include "core/settings.h"
#include "core/text.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    fuzz::EnsureConfig();
    std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if ((data[0] & 1) == 0) {
        fuzz::WriteInput(SettingsFilePath("settings.json"),
                         reinterpret_cast<const uint8_t*>(text.data()), text.size());
        ReloadLocalSettings();
        LocalSetting("objectStoreUrl", "x");
        LocalSettingBool("tlsVerify", true);
        LocalSettingInt("httpTimeoutMs", 0);
        return 0;
    }
    constexpr size_t kKeyOffset = 10;
    if (text.size() >= kKeyOffset) text.insert(kKeyOffset, ConfigMachineKey());
    fuzz::WriteInput(JoinPath(DataDir(), "config"), reinterpret_cast<const uint8_t*>(text.data()),
                     text.size());
    RestoreConfig();
    return 0;
}
