// SPDX-License-Identifier: Apache-2.0
#include "CommandLine.h"

#include <getopt.h>

namespace kysnap {

const char kVersion[] = KYSNAP_VERSION;

namespace {

struct CommandHelp {
    const char* name;
    const char* summary;
    const char* usage;
    const char* text;
};

const CommandHelp kCommands[] = {
    {"support", "is a device an IntelliFlash volume?", "DEVICE...",
     "Asks the plug-in whether each block device is an IntelliFlash volume (its INQUIRY\n"
     "vendor TEGILE and product INTELLIFLASH). Needs no configuration."},
    {"vpd", "a device's LUN id, target id and array", "[--array NAME] DEVICE...",
     "Has the plug-in identify each device: its array LUN id and target id, and the array\n"
     "serving it among those configured (the pairing is kept in the catalog)."},
    {"prepare", "prepare devices for snapshots", "[--array NAME] DEVICE...",
     "Prepares devices for snapshots: the plug-in finds the volume or NFS share behind each\n"
     "one and writes its metadata, which the catalog keeps. DEVICE is a block device path or\n"
     "nfs:SERVER:/MOUNT/PATH for an NFS datastore on an array share. --array names the array\n"
     "when the host cannot tell (several arrays, NFS server not an array's name or address)."},
    {"unprepare", "clear prepared devices' metadata", "DEVICE...",
     "Has the plug-in clear the metadata of prepared devices."},
    {"snap", "snapshot prepared devices in one batch", "DEVICE...",
     "Snapshots prepared devices in one batch. Each snapshot gets a new id, KY-<UTC time>-<n>,\n"
     "which later commands take. Each is recorded as 'creating' before the plug-in is called,\n"
     "then as 'created' or 'failed'."},
    {"map", "mount snapshots on this host", "[--quiet] SNAPSHOT...",
     "Mounts snapshots: the plug-in clones each one and maps the clone to this host (or\n"
     "exports an NFS clone to the ESX host, shown as SERVER:/PATH), the host rescans, and the\n"
     "new device is reported. While the plug-in waits for devices to appear, a terminal shows\n"
     "a countdown to the next attempt, and otherwise standard error gets one line per attempt\n"
     "(--quiet: none); the last line says at which attempt the device appeared."},
    {"unmap", "unmount snapshots and remove their devices", "SNAPSHOT...",
     "Unmounts snapshots: the plug-in removes each clone's mapping and the clone, and the host\n"
     "removes the stale devices and rescans."},
    {"delete", "delete snapshots", "[--dry-run] SNAPSHOT...",
     "Deletes snapshots on the array and drops them from the catalog, also those recorded as\n"
     "'creating' or 'failed'. The array deletes a snapshot's clones with it, so kysnap first\n"
     "asks the array for them and refuses, sending nothing, while the snapshot is mounted or\n"
     "has any clone: it names each one and the command that removes it (kysnap unmap).\n"
     "--dry-run says what would be deleted or refused and changes nothing."},
    {"revert", "roll sources back to snapshots",
     "[--dry-run] [--destroy-newer] [--yes] SNAPSHOT...",
     "Rolls each snapshot's source volume or share back to the snapshot. The array destroys\n"
     "the data written since, every newer snapshot of the source and their clones; kysnap\n"
     "first names them all, from the array's listings and the catalog, and goes on only with\n"
     "--destroy-newer, with or without a terminal. A newer snapshot that is mounted (or a\n"
     "clone the plug-in made of one) refuses the revert whatever is given: unmap it first.\n"
     "On a terminal kysnap then asks (--yes: it does not ask). Afterwards the catalog drops\n"
     "the snapshots the array destroyed. --dry-run names what would be lost, changes nothing."},
    {"reconcile", "are snapshots still on the array?", "[SNAPSHOT...]",
     "Checks that snapshots still exist on the array (all of the catalog's when none is\n"
     "named); a missing one is marked 'gone from the array'. A record left 'creating' or\n"
     "'failed' becomes 'created' when its snapshot is on the array, else it is removed."},
    {"identify", "which devices show mounted snapshots", "[--snapshot NAME]... DEVICE...",
     "Has the plug-in tell which of the given devices show the mounted copies of the named\n"
     "snapshots (by default every mounted one)."},
    {"devices", "the IntelliFlash devices this host sees", "",
     "Lists the IntelliFlash devices this host sees, one line each: the device, the LUN id\n"
     "and target id of its page 0x83, the array the catalog pairs with that target ('-'\n"
     "until a vpd or prepare has paired them) and the catalog snapshot mounted on it ('-'\n"
     "for none). Needs no configuration (with backend = sim, the arrays' host views are asked)."},
    {"list", "the catalog", "",
     "Shows the catalog: prepared devices and snapshots with their status and metadata as\n"
     "named fields (--json: objects). Needs no configuration."},
    {"inquiry", "a device's INQUIRY data, decoded", "DEVICE",
     "Sends INQUIRY to a device and shows the vendor, product, page 0x83 LUN id and target id,\n"
     "decoded exactly as the plug-in decodes them. Needs no configuration."},
    {"check", "self-test of arrays, certificates, credentials, initiators", "",
     "Tests a new installation in seconds: the plug-in, each array (reachable, certificate,\n"
     "credentials, API version, target groups) and the host's initiators and whether the\n"
     "arrays already hold them in an initiator group. One line per check, with a remedy for\n"
     "each failure. Exit status 1 when a check failed."},
    {"trust", "pin an array's key after comparing it",
     "ARRAY [--yes] [--replace] | --list | --remove ARRAY",
     "Connects to the array, shows its certificate (subject, issuer, names, validity) and the\n"
     "SHA-256 pin of its key, and once you have compared that pin with the one the array's\n"
     "console shows and confirmed (or given --yes), writes it to the pins file: from then on\n"
     "the key alone decides whether the array is accepted, whatever names its certificate\n"
     "carries. An array pinned to another key keeps it (exit status 1, both pins shown)\n"
     "unless --replace is given, also with --yes. --list shows the pins, --remove ARRAY drops\n"
     "an array's pins. The pins file is pins-file in [host], else $KYSNAP_TLS_PINS_FILE, else\n"
     "kysnap.pins beside the configuration; it, its lock and the directories above them must\n"
     "be yours or root's and writable by nobody else (a sticky directory such as /tmp\n"
     "excepted)."},
    {"demo", "a whole lifecycle against an in-process simulator", "",
     "Runs a whole snapshot lifecycle against an array simulator started inside this process\n"
     "on a free loopback port, with its own certificate: check, prepare, snap, map, list,\n"
     "unmap, reconcile, delete, for two volumes and one NFS share, then a summary of the\n"
     "simulator's counters. Needs no configuration; leaves nothing running."},
    {"version", "the plug-in's version", "",
     "Loads the plug-in and prints the version it reports."},
};

const CommandHelp* findCommand(const std::string& name) {
    for (const CommandHelp& command : kCommands) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}

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
    "  -n, --dry-run      say what would be done, change nothing (delete, revert)\n"
    "      --destroy-newer\n"
    "                     revert although the array destroys the data written since, the\n"
    "                     newer snapshots and their clones (named before it goes on)\n"
    "  -y, --yes          revert without asking, also on a terminal\n"
    "      --replace      trust: pin the presented key in place of another pinned one\n"
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
    "  fc-initiators = WWPN,...    # sim only: the host's initiators\n"
    "  iscsi-initiators = IQN,...  # sim only\n"
    "  [array ora1]                # one section per array\n"
    "  address = ora1.example.com  # as its certificate names it; :PORT when not 443\n"
    "  user = admin\n"
    "  password-file = /etc/kysnap/ora1.password   # mode 0600; or password-env = VARIABLE\n"
    "  ca-file = /path/ca.pem      # PEM file this array's certificate is checked against\n"
    "list, inquiry, support and devices need no configuration (nor passwords, but with\n"
    "backend = sim, whose devices only the arrays know).\n"
    "\n"
    "Exit status: 0 every request succeeded, 1 none did, 2 some did, 3 kysnap could not run\n"
    "the command (usage, configuration, catalog or plug-in), 4 the array was changed but the\n"
    "catalog could not be saved to record it.\n"
    "Environment: KYSNAP_TLS_CA_FILE, KYSNAP_TLS_PINS_FILE, KYSNAP_TLS_INSECURE,\n"
    "KYSNAP_HTTP_CONNECT_TIMEOUT, KYSNAP_HTTP_TIMEOUT (how the plug-in reaches arrays).\n"
    "See kysnap(1).\n";

}  // namespace

bool knownCommand(const std::string& command) {
    return findCommand(command) != nullptr;
}

std::string helpText(const std::string& command) {
    if (const CommandHelp* help = findCommand(command)) {
        return std::string("usage: kysnap [OPTIONS] ") + help->name +
               (*help->usage != '\0' ? " " : "") + help->usage + "\n\n" + help->text +
               "\n\nOptions: --config FILE, --state FILE, --plugin PATH, --json, --quiet, "
               "--verbose (kysnap --help).\n";
    }
    std::string commands;
    for (const CommandHelp& help : kCommands) {
        std::string line = std::string("  ") + help.name;
        line.resize(13, ' ');
        commands += line + help.summary + "\n";
    }
    std::string text = kGeneral;
    text.replace(text.find("%COMMANDS%"), 10, commands);
    return text;
}

namespace {

// Long options without a short form.
enum LongOnly {
    kState = 256,
    kPlugin,
    kSnapshot,
    kPassword,
    kList,
    kRemove,
    kReplace,
    kDestroyNewer
};

const option kLongOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"verbose", no_argument, nullptr, 'v'},
    {"quiet", no_argument, nullptr, 'q'},
    {"json", no_argument, nullptr, 'J'},
    {"config", required_argument, nullptr, 'c'},
    {"state", required_argument, nullptr, kState},
    {"plugin", required_argument, nullptr, kPlugin},
    {"array", required_argument, nullptr, 'a'},
    {"snapshot", required_argument, nullptr, kSnapshot},
    {"dry-run", no_argument, nullptr, 'n'},
    {"yes", no_argument, nullptr, 'y'},
    {"destroy-newer", no_argument, nullptr, kDestroyNewer},
    {"list", no_argument, nullptr, kList},
    {"remove", no_argument, nullptr, kRemove},
    {"replace", no_argument, nullptr, kReplace},
    {"password", optional_argument, nullptr, kPassword},
    {nullptr, 0, nullptr, 0},
};
// ':' first: a missing value is told apart from an unknown option.
const char kShortOptions[] = ":hVvqJc:a:ny";

// The option getopt_long just refused, as the user wrote it: a long one with what followed it,
// a short one alone (it may stand in a cluster).
std::string refusedOption(char** argv, int argc) {
    const std::string word = optind >= 1 && optind - 1 < argc ? argv[optind - 1] : "";
    if (word.rfind("--", 0) == 0) {
        return word;
    }
    return std::string("-") + static_cast<char>(optopt);
}

// The long name of the option whose value was missing.
std::string optionNeedingValue() {
    for (const option& known : kLongOptions) {
        if (known.name != nullptr && known.val == optopt) {
            return std::string("--") + known.name;
        }
    }
    return std::string("-") + static_cast<char>(optopt);
}

}  // namespace

bool parseCommandLine(int argc, char** argv, Options& options, std::string& error) {
    optind = 0;  // a full re-initialisation, should a process parse twice
    opterr = 0;
    for (;;) {
        optopt = 0;
        const int c = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr);
        if (c == -1) {
            break;
        }
        switch (c) {
            case 'h':
                options.help = true;
                break;
            case 'V':
                options.version = true;
                break;
            case 'v':
                options.verbose = true;
                break;
            case 'q':
                options.quiet = true;
                break;
            case 'J':
                options.json = true;
                break;
            case 'n':
                options.dryRun = true;
                break;
            case 'y':
                options.yes = true;
                break;
            case kDestroyNewer:
                options.destroyNewer = true;
                break;
            case 'c':
                options.config = optarg;
                break;
            case 'a':
                options.array = optarg;
                break;
            case kState:
                options.state = optarg;
                break;
            case kPlugin:
                options.plugin = optarg;
                break;
            case kSnapshot:
                options.snapshots.push_back(optarg);
                break;
            case kList:
                options.commandFlags.push_back("--list");
                break;
            case kRemove:
                options.commandFlags.push_back("--remove");
                break;
            case kReplace:
                options.commandFlags.push_back("--replace");
                break;
            case kPassword:
                error =
                    "passwords are never given on the command line: use password-file or "
                    "password-env in the configuration";
                return false;
            case ':':
                error = optionNeedingValue() + " needs a value";
                return false;
            default: {
                const std::string given = refusedOption(argv, argc);
                const size_t equals = given.find('=');
                error = given.rfind("--", 0) == 0 && equals != std::string::npos
                            ? given.substr(0, equals) + " takes no value"
                            : "unknown option " + given + " (kysnap --help)";
                return false;
            }
        }
    }
    // GNU getopt has moved every operand behind the options, in their order.
    for (int i = optind; i < argc; ++i) {
        if (options.command.empty()) {
            options.command = argv[i];
        } else {
            options.arguments.push_back(argv[i]);
        }
    }
    const std::string& command = options.command;
    if (options.help || options.version) {
        return true;
    }
    if (!options.array.empty() && command != "prepare" && command != "vpd") {
        error = "--array is for prepare and vpd";
        return false;
    }
    if (!options.commandFlags.empty() && command != "trust") {
        error = options.commandFlags.front() + " is for trust";
        return false;
    }
    if (!options.snapshots.empty() && command != "identify") {
        error = "--snapshot is for identify";
        return false;
    }
    if (options.dryRun && command != "delete" && command != "revert") {
        error = "--dry-run is for delete and revert";
        return false;
    }
    if (options.destroyNewer && command != "revert") {
        error = "--destroy-newer is for revert";
        return false;
    }
    if (options.yes && command != "revert" && command != "trust") {
        error = "--yes is for revert and trust";
        return false;
    }
    return true;
}

}  // namespace kysnap
