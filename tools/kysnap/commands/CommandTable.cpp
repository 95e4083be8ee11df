// SPDX-License-Identifier: Apache-2.0
#include "BatchCommands.h"

#include "CheckCommand.h"
#include "CommandHelp.h"
#include "CommandTable.h"
#include "DemoCommand.h"
#include "DevicesCommand.h"
#include "IdentifyCommand.h"
#include "InquiryCommand.h"
#include "ListCommand.h"
#include "LogCommand.h"
#include "MonitorCommand.h"
#include "PruneCommand.h"
#include "SupportCommand.h"
#include "TrustCommand.h"
#include "VersionCommand.h"

namespace kysnap {

namespace {

using Needs = Session::Needs;
using Catalog = Needs::Catalog;
using Reach = Needs::Reach;
using Config = Needs::Config;
using Passwords = Needs::Passwords;

// The session of a batch operation: the catalog to write, the arrays and the plug-in.
constexpr Needs kBatchSession{Catalog::Write, Reach::Plugin, Config::Required, Passwords::Read};

constexpr Operands kDevices{1, kAnyNumber, "device"};
constexpr Operands kSnapshots{1, kAnyNumber, "snapshot"};
constexpr Operands kNone{0, 0, "argument"};

// The commands that open no session read only the options.
int check(const Options& options, const Needs&) {
    return runCheck(options);
}
int trust(const Options& options, const Needs&) {
    return runTrust(options);
}
int demo(const Options& options, const Needs&) {
    return runDemo(options);
}

const std::vector<Command> kCommands = {
    {"support", "is a device an IntelliFlash volume?", "DEVICE...",
     "Asks the plug-in whether each block device is an IntelliFlash volume (its INQUIRY\n"
     "vendor TEGILE and product INTELLIFLASH). Needs no configuration.",
     0, kDevices, Needs{Catalog::None, Reach::Plugin, Config::Optional, Passwords::OnlyForSim},
     runSupport},
    {"vpd", "a device's LUN id, target id and array", "[--array NAME] DEVICE...",
     "Has the plug-in identify each device: its array LUN id and target id, and the array\n"
     "serving it among those configured (the pairing is kept in the catalog).",
     kOptionArray, kDevices, kBatchSession, runBatchCommand},
    {"prepare", "prepare devices for snapshots", "[--array NAME] DEVICE...",
     "Prepares devices for snapshots: the plug-in finds the volume or NFS share behind each\n"
     "one and writes its metadata, which the catalog keeps. DEVICE is a block device path or\n"
     "nfs:SERVER:/MOUNT/PATH for an NFS datastore on an array share. --array names the array\n"
     "when the host cannot tell (several arrays, NFS server not an array's name or address).",
     kOptionArray, kDevices, kBatchSession, runBatchCommand},
    {"unprepare", "clear prepared devices' metadata", "DEVICE...",
     "Has the plug-in clear the metadata of prepared devices.", 0, kDevices, kBatchSession,
     runBatchCommand},
    {"snap", "snapshot prepared devices in one batch",
     "[--freeze MOUNTPOINT]... [--freeze-timeout SECONDS] [--pre-hook CMD] [--post-hook CMD] "
     "[--allow-crash-consistent] DEVICE... | --policy NAME",
     "Snapshots prepared devices in one batch. Each snapshot gets a new id, KY-<UTC time>-<n>,\n"
     "which later commands take. Each is recorded as 'creating' before the plug-in is called,\n"
     "then as 'created' or 'failed', with its consistency: crash-consistent, filesystem-frozen\n"
     "or hook-quiesced. --policy NAME snapshots the devices of [policy NAME].\n"
     "--freeze (once per mount point) freezes that filesystem (FIFREEZE) just before the\n"
     "create and thaws it just after; a watchdog process thaws it should kysnap die, or once\n"
     "--freeze-timeout (default 10 s) passes. '/', network filesystems and those that cannot\n"
     "freeze are refused. --pre-hook runs (sh -c, at most 60 s) before the snapshot and\n"
     "--post-hook after it, always when the pre-hook ran. A failing freeze or pre-hook stops\n"
     "the snapshot, unless --allow-crash-consistent: then it is taken, crash-consistent.",
     kOptionPolicy | kOptionFreeze | kOptionFreezeTimeout | kOptionPreHook | kOptionPostHook |
         kOptionAllowCrashConsistent,
     Operands{1, kAnyNumber, "device", kOptionPolicy}, kBatchSession, runBatchCommand},
    {"map", "mount snapshots on this host", "[--quiet] SNAPSHOT...",
     "Mounts snapshots: the plug-in clones each one and maps the clone to this host (or\n"
     "exports an NFS clone to the ESX host, shown as SERVER:/PATH), the host rescans, and the\n"
     "new device is reported. While the plug-in waits for devices to appear, a terminal shows\n"
     "a countdown to the next attempt, and otherwise standard error gets one line per attempt\n"
     "(--quiet: none); the last line says at which attempt the device appeared.",
     0, kSnapshots, kBatchSession, runBatchCommand},
    {"unmap", "unmount snapshots and remove their devices", "SNAPSHOT...",
     "Unmounts snapshots: the plug-in removes each clone's mapping and the clone, and the host\n"
     "removes the stale devices and rescans.",
     0, kSnapshots, kBatchSession, runBatchCommand},
    {"delete", "delete snapshots", "[--dry-run] SNAPSHOT...",
     "Deletes snapshots on the array and drops them from the catalog, also those recorded as\n"
     "'creating' or 'failed'. The array deletes a snapshot's clones with it, so kysnap first\n"
     "asks the array for them and refuses, sending nothing, while the snapshot is mounted or\n"
     "has any clone: it names each one and the command that removes it (kysnap unmap).\n"
     "--dry-run says what would be deleted or refused and changes nothing.",
     kOptionDryRun, kSnapshots, kBatchSession, runBatchCommand},
    {"prune", "delete the snapshots the policies let go", "[--policy NAME] [--dry-run]",
     "Deletes the snapshots of each policy's devices (--policy: of that policy's) that none of\n"
     "its rules keeps, in one delete call, each with a line naming the rules it is outside\n"
     "of. Only the catalog's KY- snapshots are considered. Never deleted: the newest good\n"
     "snapshot of a device, a mounted one, one with a clone on the array, the replication\n"
     "base the array reports, and records not 'created' (reconcile and delete settle those).\n"
     "The arrays are asked once per dataset and project; a device whose array cannot tell\n"
     "has nothing deleted. Runs under the catalog's lock: a second prune waits, then finds\n"
     "nothing left. --dry-run prints the plan and changes nothing.",
     kOptionPolicy | kOptionDryRun, kNone, kBatchSession, runPrune},
    {"revert", "roll sources back to snapshots",
     "[--dry-run] [--destroy-newer] [--yes] SNAPSHOT...",
     "Rolls each snapshot's source volume or share back to the snapshot. The array destroys\n"
     "the data written since, every newer snapshot of the source and their clones; kysnap\n"
     "first names them all, from the array's listings and the catalog, and goes on only with\n"
     "--destroy-newer, with or without a terminal. A newer snapshot that is mounted (or a\n"
     "clone the plug-in made of one) refuses the revert whatever is given: unmap it first.\n"
     "On a terminal kysnap then asks (--yes: it does not ask). Afterwards the catalog drops\n"
     "the snapshots the array destroyed. --dry-run names what would be lost, changes nothing.",
     kOptionDryRun | kOptionDestroyNewer | kOptionYes, kSnapshots, kBatchSession, runBatchCommand},
    {"reconcile", "are snapshots still on the array?", "[SNAPSHOT...]",
     "Checks that snapshots still exist on the array (all of the catalog's when none is\n"
     "named); a missing one is marked 'gone from the array'. A record left 'creating' or\n"
     "'failed' becomes 'created' when its snapshot is on the array, else it is removed.",
     0, Operands{0, kAnyNumber, "snapshot"}, kBatchSession, runBatchCommand},
    {"identify", "which devices show mounted snapshots", "[--snapshot NAME]... DEVICE...",
     "Has the plug-in tell which of the given devices show the mounted copies of the named\n"
     "snapshots (by default every mounted one).",
     kOptionSnapshot, kDevices,
     Needs{Catalog::Read, Reach::Plugin, Config::Required, Passwords::Read}, runIdentify},
    {"devices", "the IntelliFlash devices this host sees", "",
     "Lists the IntelliFlash devices this host sees, one line each: the device, the LUN id\n"
     "and target id of its page 0x83, the array the catalog pairs with that target ('-'\n"
     "until a vpd or prepare has paired them) and the catalog snapshot mounted on it ('-'\n"
     "for none). Needs no configuration (with backend = sim, the arrays' host views are asked).",
     0, kNone, Needs{Catalog::Read, Reach::Host, Config::Optional, Passwords::OnlyForSim},
     runDevices},
    {"list", "the catalog", "",
     "Shows the catalog: prepared devices and snapshots with their status and metadata as\n"
     "named fields (--json: objects). Needs no configuration.",
     0, kNone, Needs{Catalog::ReadAsSaved, Reach::Configuration, Config::Optional, Passwords::Read},
     runList},
    {"log", "the audit log: who changed what, when", "[N]",
     "Shows the audit log, its last N entries (all without N): one line per changing request\n"
     "(snap, map, unmap, delete, revert, prune, trust) with its time, uid, host, array, dataset,\n"
     "snapshot, result and the array methods sent. A line that is not an entry is shown as\n"
     "malformed, with its number. The log is audit-log in [host], else audit.log beside the\n"
     "catalog. Needs no configuration.",
     0, Operands{0, 1, "number"},
     Needs{Catalog::None, Reach::Configuration, Config::Optional, Passwords::Read}, runLog},
    {"monitor", "age of the newest snapshots, for Nagios and Prometheus",
     "--warn AGE --crit AGE [--prom-textfile FILE] [--policy NAME | DEVICE...]",
     "Judges the age of each device's newest good snapshot in the catalog (every device the\n"
     "catalog knows when none is named): older than --warn is WARNING, older than --crit\n"
     "CRITICAL, no good snapshot CRITICAL. AGE is a number and s, m, h or d (90s, 26h, 7d).\n"
     "Prints a Nagios status line first, then one line per device, and exits as a Nagios\n"
     "plug-in: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN (catalog unreadable, ages not given\n"
     "or --warn not below --crit). --prom-textfile FILE also writes node_exporter textfile\n"
     "metrics to FILE, atomically. --policy NAME judges the policy's devices and also says\n"
     "the oldest of their newest snapshots. Needs no configuration but for --policy.",
     kOptionWarn | kOptionCrit | kOptionPromTextfile | kOptionPolicy,
     Operands{0, kAnyNumber, "device", kOptionPolicy},
     Needs{Catalog::ReadAsSaved, Reach::Configuration, Config::Optional, Passwords::Read},
     runMonitor},
    // Only the sim backend's devices need the session (its arrays' host views).
    {"inquiry", "a device's INQUIRY data, decoded", "DEVICE",
     "Sends INQUIRY to a device and shows the vendor, product, page 0x83 LUN id and target id,\n"
     "decoded exactly as the plug-in decodes them. Needs no configuration.",
     0, Operands{1, 1, "device"},
     Needs{Catalog::None, Reach::Host, Config::Optional, Passwords::Read}, runInquiry},
    {"check", "self-test of arrays, certificates, credentials, initiators", "",
     "Tests a new installation in seconds: the plug-in, each array (reachable, certificate,\n"
     "credentials, API version, target groups) and the host's initiators and whether the\n"
     "arrays already hold them in an initiator group. One line per check, with a remedy for\n"
     "each failure. Exit status 1 when a check failed.",
     0, kNone, std::nullopt, check},
    // trust checks its own combinations of operands and flags.
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
     "excepted).",
     kOptionYes | kOptionReplace | kOptionList | kOptionRemove, Operands{0, 1, "array"},
     std::nullopt, trust},
    {"demo", "a whole lifecycle against an in-process simulator", "",
     "Runs a whole snapshot lifecycle against an array simulator started inside this process\n"
     "on a free loopback port, with its own certificate: check, prepare, snap, map, list,\n"
     "unmap, reconcile, delete, for two volumes and one NFS share, then a summary of the\n"
     "simulator's counters. Needs no configuration; leaves nothing running.",
     0, kNone, std::nullopt, demo},
    {"version", "kysnap's version and the plug-in's", "",
     "Prints kysnap's version, then loads the plug-in and prints the version it reports (the\n"
     "same as kysnap --version).",
     0, kNone, std::nullopt, runVersion},
    {"help", "this text, or a command's", "[COMMAND]",
     "Prints the general help, or with a command that command's (the same as kysnap --help\n"
     "and kysnap COMMAND --help).",
     0, Operands{0, 1, "command"}, std::nullopt, runHelp},
};

}  // namespace

const std::vector<Command>& commands() {
    return kCommands;
}

const Command* findCommand(const std::string& name) {
    for (const Command& command : kCommands) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}

}  // namespace kysnap
