// What the service answers to an upload registration: where the archive goes and the
// temporary storage credentials to put it there with (all texts as received).
#pragma once

#include <string>

struct UploadTicket {
    std::string bucketName;
    std::string fileCloudPath;  // the object key
    std::string access;
    std::string expiresAt;
    std::string secret;
    std::string securitytoken;
};
