#include "CommandLine.h"

namespace kysnap {

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
     "vendor TEGILE and product INTELLIFLASH)."},
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
    {"map", "mount snapshots on this host", "SNAPSHOT...",
     "Mounts snapshots: the plug-in clones each one and maps the clone to this host (or\n"
     "exports an NFS clone to the ESX host), the host rescans, and the new device is reported.\n"
     "While the plug-in waits for devices to appear, a terminal shows the attempts."},
    {"unmap", "unmount snapshots and remove their devices", "SNAPSHOT...",
     "Unmounts snapshots: the plug-in removes each clone's mapping and the clone, and the host\n"
     "removes the stale devices and rescans."},
    {"delete", "delete snapshots", "SNAPSHOT...",
     "Deletes snapshots on the array and drops them from the catalog, also those recorded as\n"
     "'creating' or 'failed'."},
    {"revert", "roll sources back to snapshots", "SNAPSHOT...",
     "Rolls each snapshot's source volume or share back to the snapshot (newer snapshots of it\n"
     "are destroyed by the array)."},
    {"reconcile", "are snapshots still on the array?", "[SNAPSHOT...]",
     "Checks that snapshots still exist on the array (all of the catalog's when none is\n"
     "named); a missing one is marked 'gone from the array'. A record left 'creating' or\n"
     "'failed' becomes 'created' when its snapshot is on the array, else it is removed."},
    {"identify", "which devices show mounted snapshots", "[--snapshot NAME]... DEVICE...",
     "Has the plug-in tell which of the given devices show the mounted copies of the named\n"
     "snapshots (by default every mounted one)."},
    {"list", "the catalog", "",
     "Shows the catalog: prepared devices and snapshots with their status."},
    {"inquiry", "a device's INQUIRY data, decoded", "DEVICE",
     "Sends INQUIRY to a device and shows the vendor, product, page 0x83 LUN id and target id,\n"
     "decoded exactly as the plug-in decodes them."},
    {"check", "self-test of arrays, certificates, credentials, initiators", "",
     "Tests a new installation in seconds: the plug-in, each array (reachable, certificate,\n"
     "credentials, API version, target groups) and the host's initiators and whether the\n"
     "arrays already hold them in an initiator group. One line per check, with a remedy for\n"
     "each failure. Exit status 1 when a check failed."},
    {"trust", "pin an array's key after comparing it", "ARRAY [--yes] | --list | --remove ARRAY",
     "Connects to the array, shows its certificate (subject, issuer, names, validity) and the\n"
     "SHA-256 pin of its key, and once you have compared that pin with the one the array's\n"
     "console shows and confirmed (or given --yes), writes it to the pins file: from then on\n"
     "the key alone decides whether the array is accepted, whatever names its certificate\n"
     "carries. --list shows the pins, --remove ARRAY drops an array's pins. The pins file is\n"
     "pins-file in [host], else $KYSNAP_TLS_PINS_FILE, else kysnap.pins beside the\n"
     "configuration."},
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
    "\n"
    "A host for the IntelliFlash snapshot plug-in: runs each plug-in operation from the shell.\n"
    "\n"
    "Commands:\n"
    "%COMMANDS%"
    "\n"
    "Options (before or after the command):\n"
    "  --config FILE   host configuration (default $KYSNAP_CONFIG,\n"
    "                  ~/.config/kysnap/kysnap.conf, /etc/kysnap/kysnap.conf)\n"
    "  --state FILE    catalog (default $KYSNAP_STATE, ~/.local/state/kysnap/catalog.json)\n"
    "  --plugin PATH   plug-in to load (default $KYSNAP_PLUGIN, the installed one)\n"
    "  --json          print results as JSON\n"
    "  --verbose       print the plug-in's log lines on standard error\n"
    "  --help          this text; with a command, that command's\n"
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
               "\n\nOptions: --config FILE, --state FILE, --plugin PATH, --json, --verbose "
               "(kysnap --help).\n";
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

bool parseCommandLine(int argc, char** argv, Options& options, std::string& error) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            if (options.command.empty()) {
                options.command = arg;
            } else {
                options.arguments.push_back(arg);
            }
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--verbose" || arg == "-v") {
            options.verbose = true;
        } else if (arg == "--plugin") {
            if (!value(options.plugin)) {
                return false;
            }
        } else if (arg == "--config") {
            if (!value(options.config)) {
                return false;
            }
        } else if (arg == "--state") {
            if (!value(options.state)) {
                return false;
            }
        } else if (arg == "--array") {
            if (!value(options.array)) {
                return false;
            }
        } else if (arg == "--snapshot") {
            std::string name;
            if (!value(name)) {
                return false;
            }
            options.snapshots.push_back(name);
        } else if (arg == "--yes" || arg == "--list" || arg == "--remove") {
            options.commandFlags.push_back(arg);
        } else if (arg == "--password" || arg.rfind("--password=", 0) == 0) {
            error =
                "passwords are never given on the command line: use password-file or "
                "password-env in the configuration";
            return false;
        } else {
            error = "unknown option " + arg + " (kysnap --help)";
            return false;
        }
    }
    if (!options.array.empty() && options.command != "prepare" && options.command != "vpd") {
        error = "--array is for prepare and vpd";
        return false;
    }
    if (!options.commandFlags.empty() && options.command != "trust") {
        error = options.commandFlags.front() + " is for trust";
        return false;
    }
    if (!options.snapshots.empty() && options.command != "identify") {
        error = "--snapshot is for identify";
        return false;
    }
    return true;
}

}  // namespace kysnap
