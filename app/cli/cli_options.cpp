#include "app/cli/cli_options.h"

#include <cctype>

namespace {

bool AllDigits(const std::string& text) {
    if (text.empty() || text.size() > 18) return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

// Tax numbers (unified credit codes and older numbers) are letters and digits.
bool TaxNumber(const std::string& text) {
    if (text.empty() || text.size() > 32) return false;
    for (char c : text)
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    return true;
}

bool Fail(std::string* error, const std::string& text) {
    *error = text;
    return false;
}

bool CheckCommand(const CliOptions& o, std::string* error) {
    const bool listOnly = o.cloud || o.json;
    const bool retention = o.keepLast >= 0 || o.keepDaily > 0 || o.keepMonthly > 0;
    if (o.command != "prune" && o.dryRun) return Fail(error, "--dry-run belongs to prune");
    if (o.command != "backup" && o.changed) return Fail(error, "--changed belongs to backup");
    if (o.command != "prune" && o.command != "backup" && retention)
        return Fail(error, "--keep-last belongs to prune and backup --changed");
    if (retention && o.keepLast < 0)
        return Fail(error, "--keep-daily and --keep-monthly need --keep-last");
    if (o.command == "scan") {
        if (!o.args.empty() || o.all || o.latest || listOnly)
            return Fail(error, "scan takes no arguments");
    } else if (o.command == "list") {
        if (!o.args.empty() || o.all || o.latest)
            return Fail(error, "list takes only --cloud and --json");
    } else if (o.command == "backup") {
        if (listOnly || o.latest)
            return Fail(error, "backup takes --all, --changed or tax numbers");
        if ((o.all ? 1 : 0) + (o.changed ? 1 : 0) + (o.args.empty() ? 0 : 1) != 1)
            return Fail(error, "backup needs one of --all, --changed or tax numbers");
        if (retention && !o.changed) return Fail(error, "--keep-last needs backup --changed");
        for (const std::string& a : o.args)
            if (!TaxNumber(a)) return Fail(error, "not a tax number: " + a);
    } else if (o.command == "restore") {
        if (listOnly || o.all)
            return Fail(error, "restore takes backup ids or --latest tax numbers");
        if (o.args.empty()) return Fail(error, "restore needs backup ids or --latest tax numbers");
        for (const std::string& a : o.args) {
            if (o.latest ? !TaxNumber(a) : !AllDigits(a))
                return Fail(error,
                            std::string(o.latest ? "not a tax number: " : "not a backup id: ") + a);
        }
    } else if (o.command == "delete") {
        if (listOnly || o.all || o.latest) return Fail(error, "delete takes backup ids");
        if (o.args.empty()) return Fail(error, "delete needs backup ids");
        for (const std::string& a : o.args)
            if (!AllDigits(a)) return Fail(error, "not a backup id: " + a);
    } else if (o.command == "prune") {
        if (listOnly || o.all || o.latest)
            return Fail(error, "prune takes --keep-last and tax numbers");
        if (o.keepLast < 0) return Fail(error, "prune needs --keep-last");
        for (const std::string& a : o.args)
            if (!TaxNumber(a)) return Fail(error, "not a tax number: " + a);
    } else if (o.command == "verify") {
        if (listOnly) return Fail(error, "verify takes --latest tax numbers, --all or backup ids");
        if (o.all ? (o.latest || !o.args.empty()) : o.args.empty())
            return Fail(error, "verify needs --latest tax numbers, --all or backup ids");
        for (const std::string& a : o.args) {
            if (o.latest ? !TaxNumber(a) : !AllDigits(a))
                return Fail(error,
                            std::string(o.latest ? "not a tax number: " : "not a backup id: ") + a);
        }
    } else if (o.command.empty()) {
        return Fail(error, "no command");
    } else {
        return Fail(error, "unknown command: " + o.command);
    }
    return true;
}

}  // namespace

bool ParseCliOptions(const std::vector<std::string>& argv, bool stdinTerminal, CliOptions* out,
                     std::string* error) {
    CliOptions o;
    for (size_t i = 0; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        auto value = [&](std::string* v) {
            if (i + 1 >= argv.size()) return Fail(error, a + " needs a value");
            *v = argv[++i];
            return true;
        };
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (a == "--all") {
            o.all = true;
        } else if (a == "--cloud") {
            o.cloud = true;
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--latest") {
            o.latest = true;
        } else if (a == "--changed") {
            o.changed = true;
        } else if (a == "--dry-run") {
            o.dryRun = true;
        } else if (a == "--keep-last" || a == "--keep-daily" || a == "--keep-monthly") {
            std::string n;
            if (!value(&n)) return false;
            if (!AllDigits(n) || n.size() > 6) return Fail(error, a + " takes a number: " + n);
            const int count = std::stoi(n);
            if (a == "--keep-last")
                o.keepLast = count;
            else if (a == "--keep-daily")
                o.keepDaily = count;
            else
                o.keepMonthly = count;
        } else if (a == "--member") {
            o.member = true;
        } else if (a == "--password-stdin") {
            o.passwordStdin = true;
        } else if (a == "--account") {
            if (!value(&o.account)) return false;
            if (!AllDigits(o.account))
                return Fail(error, "not an account (mobile number): " + o.account);
        } else if (a == "--overwrite") {
            std::string mode;
            if (!value(&mode)) return false;
            if (mode == "skip")
                o.overwrite = Overwrite::kSkip;
            else if (mode == "cloud")
                o.overwrite = Overwrite::kCloud;
            else if (mode == "local")
                o.overwrite = Overwrite::kLocal;
            else if (mode == "ask")
                o.overwrite = Overwrite::kAsk;
            else
                return Fail(error, "--overwrite takes cloud, local, ask or skip");
        } else if (a.size() > 1 && a[0] == '-') {
            return Fail(error, "unknown option: " + a);
        } else if (o.command.empty()) {
            o.command = a;
        } else {
            o.args.push_back(a);
        }
    }
    if (o.help || o.version) {
        *out = o;
        return true;
    }
    if (!CheckCommand(o, error)) return false;
    if (o.overwrite == Overwrite::kAsk && !stdinTerminal)
        return Fail(error, "--overwrite ask needs a terminal on standard input");
    if (o.passwordStdin && o.account.empty())
        return Fail(error, "--password-stdin needs --account");
    *out = o;
    return true;
}

const char* CliUsage() {
    return R"(Usage: talvora-cli [options] COMMAND [ARGUMENTS]

Backs up this machine's invoicing data to the Talvora service and restores it, without
a window: for scheduled backups. The program may be open meanwhile.

Commands:
  scan                     find the companies' invoicing data; say what needs a backup
  list [--cloud] [--json]  the local data (or, with --cloud, the cloud backups) and
                           their states
  backup --all | TAXSN...  back up every company's data, or that of these tax numbers
  backup --changed [--keep-last N [--keep-daily D] [--keep-monthly M]]
                           back up, without asking, the companies whose data changed
                           since its newest cloud copy ("需备份") or that have none
                           ("未备份"); unchanged ones are listed "unchanged", those whose
                           cloud copy is newer ("需恢复") "cloud copy newer: not backed
                           up"; with --keep-last, then prune this machine's companies
  restore FILEID... | --latest TAXSN...
                           restore these cloud backups, or the newest backup of every
                           data folder of these tax numbers, over the local data (the
                           old data is set aside beside it)
  delete FILEID...         delete these cloud backups
  prune --keep-last N [--keep-daily D] [--keep-monthly M] [--dry-run] [TAXSN...]
                           per company folder and edition (of any computer), keep the
                           N newest cloud backups, the newest of each of the D latest
                           days and of the M latest months (China time) and delete the
                           others (only those of these tax numbers when given); the
                           newest backup always stays; --dry-run only lists them
  verify --latest TAXSN... | --all | FILEID...
                           download these backups (the newest of every data folder of
                           these tax numbers, or every backup), check their MD5 and
                           unpack them into a scratch folder with every check of a
                           restore; where the local data has the backup's fingerprint,
                           compare it byte for byte; nothing local changes

Options:
  --account MOBILE   sign in as this account, with the password from the environment
                     variable TALVORA_PASSWORD or from --password-stdin (without
                     either, it is asked for on a terminal); without --account the
                     account the program remembers signs in
  --password-stdin   read the password from the first line of standard input
  --member           sign in as a member (default: agency)
  --overwrite MODE   when a company's data is both here and in the cloud and the
                     choice is not obvious: "cloud" keeps the cloud copy (a restore
                     overwrites the local data, also of another software version),
                     "local" keeps the local data (a backup adds a new cloud copy),
                     "ask" asks on the terminal, "skip" (default) leaves both alone
  --json             list: print the records as JSON (UTF-8)
  --help             this text
  --version          the version

Exit status: 0 when nothing failed (skipped items are listed, not failures), 1 when
some items failed, 2 for bad usage, 3 when the sign-in failed, 130 when interrupted
(Ctrl-C stops after the running step and leaves no half-restored data or archive).
)";
}
