// Cloud backups made up for scale runs: an agency with many companies and a long
// history of nightly backups. They are listed with the account's real backups but have
// no archive in the store, and they live in memory only (a restart seeds them again).
#pragma once

#include <json/json.h>

#include <map>
#include <mutex>
#include <string>

namespace devservice {

class SeededBackups {
public:
    // Replaces the seeded backups of `mobile` with `count` records spread over
    // `companies` companies (round robin over the three editions), newest night first.
    void Seed(const std::string& mobile, int count, int companies);
    // The seeded records of `mobile` in the list call's shape, as the compact JSON texts
    // of the array's elements joined by commas (empty for none), and their number.
    std::string ItemsText(const std::string& mobile, int* count) const;

    // The tax number of seeded company `index`: never one of the demo prefix's.
    static std::string TaxNumber(int index);

private:
    mutable std::mutex lock_;
    struct Seeded {
        std::string text;  // written once: the list call answers tens of thousands
        int count = 0;
    };
    std::map<std::string, Seeded> byMobile_;
};

}  // namespace devservice
