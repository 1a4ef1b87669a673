// The envelope of every service answer: body parse, "code", "message", "error".
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/service_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Json::Value root;
    if (!ParseReply(std::string(reinterpret_cast<const char*>(data), size), &root)) return 0;
    int code = 12345;
    // Success is only ever the integer 0 or the text "0".
    if (ReplyCode(root, &code) && code == 0) {
        if (!root.isObject()) __builtin_trap();
        const Json::Value& c = root["code"];
        const bool integer = c.type() == Json::intValue || c.type() == Json::uintValue;
        if (!(integer && c.asLargestInt() == 0) && !(c.isString() && c.asString() == "0"))
            __builtin_trap();
    }
    ReplyMessage(root);
    IsInvalidToken(root);
    return 0;
}
