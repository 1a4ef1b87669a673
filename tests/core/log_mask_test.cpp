// What the log keeps of bodies, addresses and credentials.
#include "core/log_mask.h"

#include <gtest/gtest.h>

TEST(LogMask, SecretsBecomeStarsAndTheRestStays) {
    // An upload ticket as the service sends it, compact and styled.
    const std::string ticket =
        R"({"code":0,"auth":{"ak":"AKID7","secret":"s3cr3t","securitytoken":"tok\"en",)"
        R"("bucketName":"b"},"access_token":"A.B.C","refresh_token" : "R1","expires":3600})";
    std::string masked = MaskSecrets(ticket);
    EXPECT_EQ(masked,
              R"({"code":0,"auth":{"ak":"AKID7","secret":"***","securitytoken":"***",)"
              R"("bucketName":"b"},"access_token":"***","refresh_token" : "***","expires":3600})");

    // Names match without regard to case or separators; numbers and cut bodies too.
    EXPECT_EQ(MaskSecrets(R"({"Access-Token":12345,"passwordMd5":"d41d8","pw":"x","us":"138")"),
              R"({"Access-Token":"***","passwordMd5":"***","pw":"***","us":"138")");
    EXPECT_EQ(MaskSecrets(R"({"secretCode":"00163E","mobile":"138"})"),
              R"({"secretCode":"00163E","mobile":"138"})");
    EXPECT_EQ(MaskSecrets(R"({"token":"cut off)"), R"({"token":"***")");

    // Presigned addresses keep their path and harmless parameters.
    EXPECT_EQ(MaskSecrets("url:https://s3.example/b/k%2Bx.zip?X-Amz-Algorithm=AWS4-HMAC-SHA256"
                          "&X-Amz-Credential=AKID%2F20261208%2Fcn%2Fs3%2Faws4_request"
                          "&X-Amz-Date=20261208T000000Z&X-Amz-Expires=600"
                          "&X-Amz-Security-Token=TOKEN&X-Amz-Signature=abcdef\r\n"),
              "url:https://s3.example/b/k%2Bx.zip?X-Amz-Algorithm=AWS4-HMAC-SHA256"
              "&X-Amz-Credential=***&X-Amz-Date=20261208T000000Z&X-Amz-Expires=600"
              "&X-Amz-Security-Token=***&X-Amz-Signature=***\r\n");
    EXPECT_EQ(MaskSecrets("downlodUrl=http://h/o?AccessKeyId=AK&Expires=1&Signature=zz%3D"),
              "downlodUrl=http://h/o?AccessKeyId=***&Expires=1&Signature=***");

    // Headers.
    EXPECT_EQ(MaskSecrets("Authorization: Bearer eyJhbGc.x.y\r\nHost: h\r\n"),
              "Authorization: Bearer ***\r\nHost: h\r\n");
    EXPECT_EQ(MaskSecrets("x-amz-security-token: TOKEN\r\n"), "x-amz-security-token: ***\r\n");

    // Cookies: the token cookies are hidden, the role is shown.
    EXPECT_EQ(LogCookieValue("znfm_token", "A.B.C"), "***");
    EXPECT_EQ(LogCookieValue("znfm_refresh_token", "R"), "***");
    EXPECT_EQ(LogCookieValue("znfm_role", "AGENCY"), "AGENCY");
}

TEST(LogMask, LongBodiesAreCutAfterMasking) {
    // A list of some tens of kilobytes is kept whole, masked.
    std::string list = R"({"access_token":"SECRET","list":[)";
    for (int i = 0; i < 400; ++i)
        list += R"({"fileId":)" + std::to_string(i) + R"(,"fileName":"91440300MA5F8QRS3P.0.zip",)" +
                R"("fileInfo":"{\"taxerName\":\"深圳示例有限公司\"}"},)";
    list += "{}]}";
    ASSERT_GT(list.size(), 40000u);
    std::string kept = LogSafe(list);
    EXPECT_EQ(kept, MaskSecrets(list));
    EXPECT_EQ(kept.find("SECRET"), std::string::npos);
    EXPECT_NE(kept.find(R"("fileId":399,)"), std::string::npos);

    std::string body = R"({"access_token":")" + std::string(10000, 'T') + R"(","list":")" +
                       std::string(kLogBodyLimit, 'x') + "\"}";
    std::string logged = LogSafe(body);
    EXPECT_LE(logged.size(), kLogBodyLimit + 32);
    EXPECT_EQ(logged.find("TTT"), std::string::npos);
    EXPECT_EQ(logged.rfind(R"({"access_token":"***",)", 0), 0u);
    EXPECT_NE(logged.find("...(" + std::to_string(body.size()) + " bytes)"), std::string::npos);
    // A secret that runs past the part that is looked at is still hidden.
    const std::string huge =
        std::string(3000, ' ') + R"({"secret":")" + std::string(10u << 20, 'S') + "\"}";
    logged = LogSafe(huge);
    EXPECT_EQ(logged.find("SSS"), std::string::npos);
    EXPECT_NE(logged.find("...(" + std::to_string(huge.size()) + " bytes)"), std::string::npos);
    EXPECT_EQ(LogSafe("short"), "short");
}
