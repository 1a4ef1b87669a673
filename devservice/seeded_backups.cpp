#include "devservice/seeded_backups.h"

#include <cstdio>
#include <ctime>
#include <memory>
#include <sstream>

#include "devservice/service_context.h"

namespace devservice {

namespace {

struct SeedEdition {
    const char* key;
    const char* appVer;
};

const SeedEdition kSeedEditions[] = {
    {"JSP", "V2.0.53_ZS_20200731"},
    {"SKP", "3.25.60001.7"},
    {"UK", "1.0.52"},
};

// Seeded ids stay clear of the ids the upload slot hands out.
constexpr long long kFirstSeededId = 50000001;
// The newest night of the history: 2026-12-08 02:00:00 China time.
constexpr std::time_t kNewestNight = 1796666400;

std::string ChinaTime(std::time_t when) {
    const std::time_t china = when + 8 * 3600;
    std::tm t{};
    gmtime_r(&china, &t);
    char text[32];
    strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &t);
    return text;
}

std::string Compact(const std::string& time) {
    std::string out;
    for (char c : time)
        if (c >= '0' && c <= '9') out += c;
    return out;
}

}  // namespace

std::string SeededBackups::TaxNumber(int index) {
    char text[32];
    snprintf(text, sizeof(text), "91310115MA%07dB", index);
    return text;
}

void SeededBackups::Seed(const std::string& mobile, int count, int companies) {
    if (companies < 1) companies = 1;
    // One writer for every record: a hundred thousand are seeded in seconds.
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    const std::unique_ptr<Json::StreamWriter> writer(builder.newStreamWriter());
    auto compact = [&writer](const Json::Value& value) {
        std::ostringstream out;
        writer->write(value, &out);
        return out.str();
    };
    Seeded seeded;
    seeded.count = count;
    for (int i = 0; i < count; ++i) {
        const int company = i % companies;
        const int night = i / companies;
        const SeedEdition& edition = kSeedEditions[company % 3];
        const std::string taxSn = TaxNumber(company);
        const std::string dirName = taxSn + ".0";
        const std::time_t bak =
            kNewestNight - static_cast<std::time_t>(night) * 86400 + company * 7;
        const std::string bakTime = ChinaTime(bak);
        char name[64];
        snprintf(name, sizeof(name), "演示代账客户%03d有限公司", company + 1);
        char pc[32];
        snprintf(pc, sizeof(pc), "AGENCY-PC%02d", company % 4 + 1);

        Json::Value info(Json::objectValue);
        info["appVer"] = edition.appVer;
        info["dirName"] = dirName;
        info["taxSn"] = taxSn;
        info["subSn"] = "0";
        info["taxerName"] = name;
        info["typeStrEn"] = edition.key;
        info["account"] = mobile;
        info["PCName"] = pc;

        Json::Value item(Json::objectValue);
        item["fileId"] = static_cast<Json::Int64>(kFirstSeededId + i);
        item["fileName"] = dirName + "_" + edition.key + "_" + Compact(bakTime) + ".zip";
        item["fileSize"] =
            static_cast<Json::Int64>(40960 + (static_cast<long long>(i) * 7919) % 20000000);
        item["fileMD5"] = Md5Hex(item["fileName"].asString());
        item["fileTime"] = ChinaTime(bak - 3600 - company * 60);
        item["bakTime"] = bakTime;
        item["fileDescribe"] = "";
        item["fileInfo"] = compact(info);
        item["createTime"] = bakTime;
        item["bakEndTime"] = ChinaTime(bak + 2);
        if (i > 0) seeded.text += ',';
        seeded.text += compact(item);
    }
    std::lock_guard<std::mutex> guard(lock_);
    byMobile_[mobile] = std::move(seeded);
}

std::string SeededBackups::ItemsText(const std::string& mobile, int* count) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = byMobile_.find(mobile);
    *count = it == byMobile_.end() ? 0 : it->second.count;
    return it == byMobile_.end() ? std::string() : it->second.text;
}

}  // namespace devservice
