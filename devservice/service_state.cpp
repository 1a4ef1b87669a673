#include "devservice/service_state.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "core/json_parse.h"

namespace devservice {

ServiceState::ServiceState(const std::string& dataDir)
    : dataDir_(dataDir), root_(Json::objectValue) {
    std::ifstream in(dataDir_ + "/state.json", std::ios::binary);
    if (!in) return;
    std::stringstream text;
    text << in.rdbuf();
    Json::Value root;
    if (ParseJson(text.str(), &root) && root.isObject()) root_ = root;
}

void ServiceState::Update(const std::function<void(Json::Value&)>& change) {
    std::lock_guard<std::mutex> guard(lock_);
    change(root_);
    SaveLocked();
}

void ServiceState::Read(const std::function<void(const Json::Value&)>& look) const {
    std::lock_guard<std::mutex> guard(lock_);
    look(root_);
}

Json::Value ServiceState::Get(const std::string& member) const {
    std::lock_guard<std::mutex> guard(lock_);
    return root_.get(member, Json::Value());
}

void ServiceState::SaveLocked() const {
    // Written aside and renamed, so a killed service never leaves half a file.
    const std::string path = dataDir_ + "/state.json";
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        Json::StreamWriterBuilder builder;
        builder["emitUTF8"] = true;
        out << Json::writeString(builder, root_);
        if (!out) return;
    }
    std::rename(temp.c_str(), path.c_str());
}

}  // namespace devservice
