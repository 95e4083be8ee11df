// SPDX-License-Identifier: Apache-2.0
#include "CommandHelp.h"

#include <cstdio>

#include "CannotRun.h"
#include "CommandLine.h"
#include "CommandTable.h"

namespace kysnap {

namespace {

const char kGeneral[] =
    "usage: kysnap [OPTIONS] COMMAND [ARGUMENTS]\n"
    "       kysnap --version | --help | COMMAND --help\n"
    "\n"
    "A host for the IntelliFlash snapshot plug-in: runs each plug-in operation from the shell.\n"
    "\n"
    "Commands:\n"
    "%COMMANDS%"
    "\n"
    "Options (before or after the command; --opt=VALUE works as well as --opt VALUE):\n"
    "  -c, --config FILE  host configuration (default $KYSNAP_CONFIG,\n"
    "                     ~/.config/kysnap/kysnap.conf, /etc/kysnap/kysnap.conf)\n"
    "      --state FILE   catalog (default $KYSNAP_STATE, ~/.local/state/kysnap/catalog.json)\n"
    "      --plugin PATH  plug-in to load (default $KYSNAP_PLUGIN, the installed one)\n"
    "  -a, --array NAME   the array serving the devices (prepare, vpd)\n"
    "      --snapshot ID  a snapshot to look for (identify; may be repeated)\n"
    "  -n, --dry-run      say what would be done, change nothing (delete, revert, prune)\n"
    "      --policy NAME  a [policy NAME] of the configuration: snap its devices, prune\n"
    "                     only its snapshots\n"
    "      --destroy-newer\n"
    "                     revert although the array destroys the data written since, the\n"
    "                     newer snapshots and their clones (named before it goes on)\n"
    "  -y, --yes          revert without asking, also on a terminal\n"
    "      --replace      trust: pin the presented key in place of another pinned one\n"
    "      --warn AGE     monitor: WARNING when older than AGE (90s, 30m, 26h, 7d)\n"
    "      --crit AGE     monitor: CRITICAL when older than AGE (longer than --warn)\n"
    "      --prom-textfile FILE\n"
    "                     monitor: also write node_exporter textfile metrics to FILE\n"
    "  -J, --json         print results as JSON\n"
    "  -q, --quiet        no progress lines while mapped devices are awaited\n"
    "  -v, --verbose      print the plug-in's log lines on standard error\n"
    "  -V, --version      kysnap's version and the plug-in's\n"
    "  -h, --help         this text; with a command, that command's\n"
    "\n"
    "Configuration (an INI file; each section and each key given once; '#' comments):\n"
    "  [host]\n"
    "  backend = linux             # this machine; sim (the default): the simulator's view\n"
    "  name = db01                 # host name (default: the system's)\n"
    "  esx-name = esx01            # where NFS clones are exported (default: host name)\n"
    "  retry-count = 10            # tries while mapped devices are awaited (default 30)\n"
    "  retry-interval = 6          # seconds between them (default 60)\n"
    "  create-settle-seconds = 600 # how long a create whose answer was lost may still finish\n"
    "  diagnostic-logging = no     # yes: whole array answers in the plug-in's log\n"
    "  target-group = NAME         # the array target group clones are mapped through\n"
    "  audit-log = /var/log/kysnap/audit.log   # default: audit.log beside the catalog\n"
    "  audit-syslog = no           # yes: each audit line also to syslog (authpriv.info)\n"
    "  fc-initiators = WWPN,...    # sim only: the host's initiators\n"
    "  iscsi-initiators = IQN,...  # sim only\n"
    "  [array ora1]                # one section per array\n"
    "  address = ora1.example.com  # as its certificate names it; :PORT when not 443\n"
    "  user = admin\n"
    "  password-file = /etc/kysnap/ora1.password   # mode 0600; or password-env = VARIABLE\n"
    "  ca-file = /path/ca.pem      # PEM file this array's certificate is checked against\n"
    "  [policy oradb]              # what prune keeps of some devices' snapshots\n"
    "  devices = DEVICE...         # as snap names them; each in one policy at most\n"
    "  hourly = 24                 # the newest of each of the 24 newest hours; also daily,\n"
    "                              # weekly, monthly, yearly (UTC periods, ISO weeks)\n"
    "  keep-last = 3               # the 3 newest\n"
    "  keep-within = 36h           # all made within 36h of the newest (s, m, h, d)\n"
    "list, inquiry, support, devices, log and monitor need no configuration (nor passwords,\n"
    "but with backend = sim, whose devices only the arrays know).\n"
    "\n"
    "Exit status: 0 success, 1 failure (also a configuration, catalog or plug-in problem),\n"
    "2 usage (the command line is wrong; nothing was done), 3 partial success (some requests\n"
    "succeeded, some did not), 4 the array was changed but the catalog could not be saved to\n"
    "record it. monitor exits as a Nagios plug-in: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN.\n"
    "Environment: KYSNAP_TLS_CA_FILE, KYSNAP_TLS_PINS_FILE, KYSNAP_TLS_INSECURE,\n"
    "KYSNAP_HTTP_CONNECT_TIMEOUT, KYSNAP_HTTP_TIMEOUT (how the plug-in reaches arrays).\n"
    "See kysnap(1).\n";

constexpr size_t kNameColumn = 13;

const char kGeneralUsage[] = "kysnap [OPTIONS] COMMAND [ARGUMENTS]";

std::string usageLine(const Command& row) {
    return std::string("kysnap [OPTIONS] ") + row.name + (*row.usage != '\0' ? " " : "") +
           row.usage;
}

JsonDocument commandJson(const Command& row) {
    const Operands& operands = row.operands;
    return {{"name", row.name},
            {"summary", row.summary},
            {"usage", usageLine(row)},
            {"options", commandOptionNames(row.options)},
            {"operands",
             {{"least", operands.least},
              {"most", operands.most == kAnyNumber ? JsonDocument() : JsonDocument(operands.most)},
              {"noun", operands.noun}}}};
}

}  // namespace

std::string helpText(const std::string& command) {
    if (const Command* row = findCommand(command)) {
        return "usage: " + usageLine(*row) + "\n\n" + row->help +
               "\n\nOptions: --config FILE, --state FILE, --plugin PATH, --json, --quiet, "
               "--verbose (kysnap --help).\n";
    }
    std::string list;
    for (const Command& row : commands()) {
        std::string line = std::string("  ") + row.name;
        line.resize(kNameColumn, ' ');
        list += line + row.summary + "\n";
    }
    std::string text = kGeneral;
    const std::string marker = "%COMMANDS%";
    text.replace(text.find(marker), marker.size(), list);
    return text;
}

JsonDocument helpDocument(const std::string& command) {
    JsonDocument document = jsonDocument("help");
    if (const Command* row = findCommand(command)) {
        JsonDocument about = commandJson(*row);
        about["help"] = row->help;
        document["commandHelp"] = std::move(about);
    } else {
        document["usage"] = kGeneralUsage;
        document["commands"] = JsonDocument::array();
        for (const Command& row : commands()) {
            document["commands"].push_back(commandJson(row));
        }
    }
    document["exitStatus"] = kExitSuccess;
    return document;
}

int printHelp(const Options& options, const std::string& command) {
    if (options.json) {
        printJsonDocument(helpDocument(command));
    } else {
        std::fputs(helpText(command).c_str(), stdout);
    }
    return kExitSuccess;
}

int runHelp(const Options& options, const Session::Needs&) {
    const std::string command = options.arguments.empty() ? "" : options.arguments.front();
    if (!command.empty() && findCommand(command) == nullptr) {
        return usageError(options, "unknown command " + command + " (kysnap --help lists them)");
    }
    return printHelp(options, command);
}

}  // namespace kysnap
