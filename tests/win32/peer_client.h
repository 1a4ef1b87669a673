// The Windows tests' way to native programs: talvora-test-peers, started by
// scripts/wine-tests.sh (its address in TALVORA_TEST_PEERS), starts them and runs shell
// commands on the host. Host paths are Wine's Z: drive.
#pragma once

#include <json/json.h>

#include <string>
#include <vector>

namespace testsupport {

// POSTs `body` to the peer service; false (with *reply untouched) when it did not answer 200.
bool PeerCall(const std::string& path, const Json::Value& body, Json::Value* reply);

// "Z:/work/x" or "Z:\work\x" -> "/work/x"; other paths unchanged.
std::string HostPath(const std::string& path);
// Every Z: path inside a command line, as the host sees it.
std::string HostCommand(const std::string& command);

// Starts a native server (see talvora-test-peers); its port, or 0. *id names it for StopPeer.
int SpawnPeer(const std::vector<std::string>& argv, const std::string& stderrPath, int* id);
void StopPeer(int* id);

}  // namespace testsupport
