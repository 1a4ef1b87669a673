// talvora-test-peers: starts native programs (the local service, the object store) and
// runs shell commands for the tests of the Windows build, which run under Wine and
// cannot start Linux programs themselves. Listens on 127.0.0.1 only; JSON over HTTP:
//   POST /spawn {"argv":[...],"stderr":PATH} -> {"id","port"}  (a "listening" server)
//   POST /stop {"id"}                        -> {}
//   POST /run {"command"}                    -> {"output","exitCode"}  (through sh)
// Prints "listening 127.0.0.1:PORT" first; on SIGTERM or SIGINT it stops, and stops
// every program it started.
#include <fcntl.h>
#include <httplib.h>
#include <json/json.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/json_parse.h"
#include "tests/support/child_server.h"
#include "tests/support/test_support.h"

namespace {

constexpr int kStartWaitMs = 30000;

bool ParseBody(const httplib::Request& req, Json::Value* body) {
    return ParseJson(req.body, body) && body->isObject();
}

void Answer(httplib::Response& res, const Json::Value& v, int status = 200) {
    Json::StreamWriterBuilder w;
    w["indentation"] = "";
    w["emitUTF8"] = true;
    res.status = status;
    res.set_content(Json::writeString(w, v), "application/json");
}

// Starts argv with standard output on a pipe (and standard error in `errPath`); the
// port from its first line, or 0 with the child stopped.
int Spawn(std::vector<std::string> args, const std::string& errPath, int* pid) {
    *pid = -1;
    if (args.empty()) return 0;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return 0;
    const int err = errPath.empty()
                        ? -1
                        : open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        sigset_t none;
        sigemptyset(&none);
        pthread_sigmask(SIG_SETMASK, &none, nullptr);
        dup2(out[1], STDOUT_FILENO);
        if (err >= 0) dup2(err, STDERR_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    if (err >= 0) close(err);
    if (child < 0) {
        close(out[0]);
        return 0;
    }
    *pid = child;
    const int port = testsupport::ReadListeningPort(out[0], kStartWaitMs);
    close(out[0]);
    if (port <= 0) testsupport::StopChild(pid);
    return port;
}

}  // namespace
int main(int argc, char** argv) {
    if (argc > 1 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        puts(
            "usage: talvora-test-peers\n"
            "Starts native programs and runs commands for the Windows tests, on a free\n"
            "port of 127.0.0.1; "
            "prints \"listening 127.0.0.1:PORT\" first and stops on SIGTERM.");
        return 0;
    }
    if (argc > 1) {
        fprintf(stderr, "talvora-test-peers: no arguments expected\n");
        return 2;
    }
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::mutex lock;
    std::set<int> children;
    httplib::Server server;
    auto route = [&](const char* path, auto handler) {
        server.Post(path, [&, handler](const httplib::Request& req, httplib::Response& res) {
            Json::Value body;
            if (!ParseBody(req, &body)) return Answer(res, Json::Value("bad body"), 400);
            handler(body, res);
        });
    };
    route("/spawn", [&](const Json::Value& b, httplib::Response& res) {
        std::vector<std::string> args;
        for (const Json::Value& a : b["argv"]) args.push_back(a.asString());
        int pid = -1;
        const int port = Spawn(args, b["stderr"].asString(), &pid);
        if (port <= 0) return Answer(res, Json::Value("did not start"), 500);
        std::lock_guard<std::mutex> guard(lock);
        children.insert(pid);
        Json::Value v;
        v["id"] = pid;
        v["port"] = port;
        Answer(res, v);
    });
    route("/stop", [&](const Json::Value& b, httplib::Response& res) {
        int pid = b["id"].asInt();
        {
            std::lock_guard<std::mutex> guard(lock);
            if (children.erase(pid) == 0) return Answer(res, Json::Value("no such child"), 404);
        }
        testsupport::StopChild(&pid);
        Answer(res, Json::Value(Json::objectValue));
    });
    route("/run", [&](const Json::Value& b, httplib::Response& res) {
        int rc = -1;
        Json::Value v;
        v["output"] = testsupport::RunCommand(b["command"].asString(), &rc);
        v["exitCode"] = rc;
        Answer(res, v);
    });

    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        fprintf(stderr, "talvora-test-peers: cannot listen on 127.0.0.1\n");
        return 1;
    }
    printf("listening 127.0.0.1:%d\n", port);
    fflush(stdout);
    std::thread stopper([&] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        server.stop();
    });
    server.listen_after_bind();
    stopper.join();
    std::lock_guard<std::mutex> guard(lock);
    for (int pid : children) testsupport::StopChild(&pid);
    return 0;
}
