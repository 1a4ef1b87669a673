// talvora-devservice: the local Talvora service for tests and for running the program
// on one machine. Listens on 127.0.0.1 only.
//
//   --port N      port to listen on; 0 (default) picks a free one
//   --data DIR    folder that keeps the state across restarts (default ./devservice-data)
//   --static DIR  folder served under /files/
//   --cert FILE --key FILE   serve HTTPS with this certificate and key (PEM)
//   --s3 URL      the object store for backups: address of its verifying proxy
//                 (devservice/objectstore), e.g. http://127.0.0.1:9000
//   --bucket NAME bucket that holds the backups (default talvora-backup)
//   --latency PATH=MS   requests to PATH and below it wait MS first (repeatable; "/" is
//                       every path, the longest match wins)
//   --token-lifetime S  access tokens expire S seconds after issue (default: never)
//   --seed-backups M  lists M made-up backups for the demo agency (in memory, no
//                 archives), over --seed-companies N companies (default 300)
//
// The first line on standard output is "listening 127.0.0.1:PORT" once the port is
// bound; SIGTERM or SIGINT stop the service.
#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <thread>

#include "devservice/routes.h"

namespace {

struct Options {
    int port = 0;
    std::string dataDir = "devservice-data";
    std::string staticDir;
    std::string cert;
    std::string key;
    std::string s3Url;
    std::string bucket = "talvora-backup";
    devservice::ServiceTiming* timing = nullptr;
    int seedBackups = 0;
    int seedCompanies = 300;
};

// "Sun, 06 Nov 1994 08:49:37 GMT", independent of the locale.
std::string HttpDate(std::time_t when) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    struct tm t;
    gmtime_r(&when, &t);
    char buf[40];
    snprintf(buf, sizeof(buf), "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[t.tm_wday], t.tm_mday,
             kMonths[t.tm_mon], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    return buf;
}

const char kUsage[] =
    "usage: talvora-devservice [--port N] [--data DIR] [--static DIR]\n"
    "                          [--cert FILE --key FILE] [--s3 URL] [--bucket NAME]\n"
    "                          [--latency PATH=MS]... [--token-lifetime SECONDS]\n"
    "                          [--seed-backups M [--seed-companies N]]\n"
    "  --port N       port on 127.0.0.1; 0 (default) picks a free one\n"
    "  --data DIR     folder that keeps the state (default ./devservice-data)\n"
    "  --static DIR   folder served under /files/\n"
    "  --cert FILE --key FILE  serve HTTPS with this certificate and key (PEM)\n"
    "  --s3 URL       object store for backups: its verifying proxy, http://HOST:PORT\n"
    "  --bucket NAME  bucket that holds the backups (default talvora-backup)\n"
    "  --latency PATH=MS  answers for PATH and the paths below it wait MS milliseconds\n"
    "                 (repeatable; \"/\" is every path, the longest match wins)\n"
    "  --token-lifetime SECONDS  access tokens expire this long after issue and are then\n"
    "                 answered {\"error\":\"invalid_token\"} (default: they last)\n"
    "  --seed-backups M    list M made-up backups (no archives) for the demo agency\n"
    "  --seed-companies N  spread them over N companies (default 300)\n";

// The demo agency of SeedDemoAccounts.
const char kSeedAgency[] = "13800000001";

// --help answers on standard output with success; bad usage goes to standard error.
int Usage(FILE* out, int status) {
    fputs(kUsage, out);
    return status;
}

bool ParseOptions(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) return false;
        const std::string value = argv[++i];
        if (name == "--port")
            o->port = std::atoi(value.c_str());
        else if (name == "--data")
            o->dataDir = value;
        else if (name == "--static")
            o->staticDir = value;
        else if (name == "--cert")
            o->cert = value;
        else if (name == "--key")
            o->key = value;
        else if (name == "--s3")
            o->s3Url = value;
        else if (name == "--bucket")
            o->bucket = value;
        else if (name == "--latency") {
            if (!o->timing->SetLatencySpec(value)) return false;
        } else if (name == "--token-lifetime") {
            char* end = nullptr;
            double seconds = std::strtod(value.c_str(), &end);
            if (end == value.c_str() || *end != '\0' || !(seconds >= 0)) return false;
            o->timing->SetTokenLifetimeMs(static_cast<long long>(seconds * 1000.0));
        } else if (name == "--seed-backups") {
            o->seedBackups = std::atoi(value.c_str());
        } else if (name == "--seed-companies") {
            o->seedCompanies = std::atoi(value.c_str());
        } else
            return false;
    }
    return o->cert.empty() == o->key.empty() && o->port >= 0 && o->port < 65536 &&
           o->seedBackups >= 0 && o->seedCompanies > 0;
}

}  // namespace

int main(int argc, char** argv) {
    devservice::ServiceTiming timing;
    Options o;
    o.timing = &timing;
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--help") return Usage(stdout, 0);
    if (!ParseOptions(argc, argv, &o)) return Usage(stderr, 2);
    mkdir(o.dataDir.c_str(), 0755);

    // Signals are taken by one thread with sigwait, so stopping is not done inside a
    // signal handler.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<httplib::Server> server;
    if (o.cert.empty()) {
        server = std::make_unique<httplib::Server>();
    } else {
        auto tls = std::make_unique<httplib::SSLServer>(o.cert.c_str(), o.key.c_str());
        if (!tls->is_valid()) {
            fprintf(stderr, "cannot use certificate %s with key %s\n", o.cert.c_str(),
                    o.key.c_str());
            return 1;
        }
        server = std::move(tls);
    }

    devservice::ServiceState state(o.dataDir);
    devservice::Faults faults;
    devservice::RequestJournal journal;
    devservice::SeededBackups seeded;
    if (o.seedBackups > 0) seeded.Seed(kSeedAgency, o.seedBackups, o.seedCompanies);
    devservice::ServiceContext ctx;
    ctx.seeded = &seeded;
    ctx.state = &state;
    ctx.faults = &faults;
    ctx.journal = &journal;
    ctx.timing = &timing;
    ctx.staticDir = o.staticDir;
    ctx.s3Url = o.s3Url;
    ctx.bucket = o.bucket;
    devservice::SeedDemoAccounts(state);
    devservice::SeedDemoEnterprises(state);

    server->set_pre_routing_handler([&](const httplib::Request& req, httplib::Response& res) {
        timing.Wait(req.path);
        return faults.PreRoute(req, res);
    });
    server->set_post_routing_handler([&](const httplib::Request& req, httplib::Response& res) {
        // Recorded before the answer goes out, so a client that has its answer
        // finds its request in the journal.
        journal.Record(req);
        // Every answer says when it was made, as a real server's does; clients compare
        // their clocks with it.
        if (!res.has_header("Date")) res.set_header("Date", HttpDate(std::time(nullptr)));
        faults.PostRoute(res);
    });

    devservice::RegisterAccountRoutes(*server, ctx);
    devservice::RegisterWechatRoutes(*server, ctx);
    devservice::RegisterPortalRoutes(*server, ctx);  // before /files/: its documents win
    devservice::RegisterStaticRoutes(*server, ctx);
    devservice::RegisterControlRoutes(*server, ctx);
    devservice::RegisterBackupRoutes(*server, ctx);
    devservice::RegisterUpdateRoutes(*server, ctx);

    int port = o.port;
    if (port == 0) {
        port = server->bind_to_any_port("127.0.0.1");
    } else if (!server->bind_to_port("127.0.0.1", port)) {
        port = -1;
    }
    if (port <= 0) {
        fprintf(stderr, "cannot listen on 127.0.0.1:%d\n", o.port);
        return 1;
    }
    ctx.baseUrl =
        std::string(o.cert.empty() ? "http" : "https") + "://127.0.0.1:" + std::to_string(port);
    printf("listening 127.0.0.1:%d\n", port);
    fflush(stdout);

    std::thread stopper([&] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        server->stop();
    });
    bool ok = server->listen_after_bind();
    // listen ended on its own (not by a signal): wake the stopper thread.
    if (stopper.joinable()) {
        pthread_kill(stopper.native_handle(), SIGTERM);
        stopper.join();
    }
    return ok ? 0 : 1;
}
