// The sign-in service's replies; the first byte chooses the reader: the password
// sign-in answer, the QR request's answer or a QR poll answer.
#include <cstddef>
#include <cstdint>
#include <string>

#include "account/qr_login.h"
#include "account/sign_in.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string reply(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 3) {
        case 0: {
            const SignInReply r = ReadSignInReply(reply);
            // Nothing is taken from an answer that is not an object.
            if (!r.object && (r.hasCode || r.hasAccess || r.hasRefresh || r.hasMessage))
                __builtin_trap();
            break;
        }
        case 1: {
            std::string qrText, sceneStr;
            ReadQrScene(reply, &qrText, &sceneStr);
            BuildQrPollBody(sceneStr);
            break;
        }
        default: {
            const QrPollAnswer a = ReadQrPollAnswer(reply);
            if (a.state != QrPollState::kSignedIn &&
                !(a.accessToken.empty() && a.refreshToken.empty() && a.mobile.empty()))
                __builtin_trap();
            break;
        }
    }
    return 0;
}
