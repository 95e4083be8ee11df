// SPDX-License-Identifier: Apache-2.0
// HostConfig: the host configuration file of kysnap, an INI-style text:
//
//   [host]
//   backend = sim                 # sim (the array simulator's view) or linux (this machine)
//   name = db01                   # default: the system's host name
//   fc-initiators = 21:00:00:24:ff:3d:2a:10, 21:00:00:24:ff:3d:2a:11   # sim only
//   iscsi-initiators = iqn.1994-05.com.redhat:db01                      # sim only
//   esx-name = esx01              # host NFS share clones are exported to (default: name)
//   retry-count = 3               # mapping retries and array polling (plug-in default 30)
//   retry-interval = 5            # seconds between them (plug-in default 60)
//   create-settle-seconds = 600   # how long a lost create may still finish on the array
//   diagnostic-logging = no       # whole array answers in the plug-in's log
//   target-group = default-fc-target-group   # target group to map clones through
//   pins-file = /etc/kysnap/kysnap.pins       # public-key pins of arrays (see Pins.h)
//   audit-log = /var/log/kysnap/audit.log     # default: audit.log beside the catalog
//   audit-syslog = no             # yes: each audit line also goes to syslog (authpriv.info)
//
//   [array ora1]
//   address = 10.0.0.5            # host or host:port, as the plug-in addresses the array
//   user = admin
//   password-file = /etc/kysnap/ora1.password   # mode 0600 or stricter
//   password-env = KYSNAP_ORA1_PASSWORD         # or: the variable holding the password
//   ca-file = /path/ca.pem        # the CA file this array's certificate is checked against
//
//   [policy oradb]                # what prune keeps of these devices' snapshots (Policy.h)
//   devices = /dev/mapper/ora-data /dev/mapper/ora-logs
//   daily = 7
//
// '#' starts a comment (at the start of a line or after a blank); blank lines are ignored.
// Strict, so that a mistake is never silently read as something else: each section and each key
// of a section is given once (a repeat is an error naming both lines); an address's port, when
// given, is a number from 1 to 65535 and an IPv6 address goes in brackets; a NUL byte or another
// control character but a tab is refused with its line and column. A UTF-8 byte order mark at
// the start, which some editors write, is skipped. Text quoted in a message shows invisible and
// control characters escaped.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Policy.h"
#include "TlsPins.h"

namespace kysnap {

enum class BackendKind { Sim, Linux };

struct ArrayConfig {
    std::string name;
    std::string address;
    std::string user;
    std::string passwordFile;
    std::string passwordEnv;
    std::string caFile;
};

struct HostConfig {
    std::string path;  // where it was read from, for messages
    BackendKind backend = BackendKind::Sim;
    std::string hostName;
    std::vector<std::string> fcInitiators;
    std::vector<std::string> iscsiInitiators;
    std::string esxName;
    std::optional<int> retryCount;
    std::optional<int> retryInterval;
    // How long after a snapshot's create was sent the array may still make it, when the
    // answer was lost: until then a record the array does not list is kept, as unknown.
    std::optional<int> createSettleSeconds;
    int settleSeconds() const { return createSettleSeconds.value_or(kDefaultSettleSeconds); }
    static constexpr int kDefaultSettleSeconds = 600;
    std::optional<bool> diagnosticLogging;
    std::optional<std::string> targetGroup;
    std::string pinsFileKey;  // pins-file as written; empty when not given
    std::string auditLog;     // audit-log as written; empty: beside the catalog
    bool auditSyslog = false;
    std::vector<ArrayConfig> arrays;
    std::vector<Policy> policies;  // in the order given
    // Filled by loadHostConfig: the pins file in use (see Pins.h) and the pins it holds.
    std::string pinsFile;
    std::vector<kyplatform::PinnedArray> pins;

    const ArrayConfig* findArray(const std::string& name) const;
    // The policy called `name`; null when there is none.
    const Policy* findPolicy(const std::string& name) const;
};

// Parses configuration text. False with `error` naming the place ("<path>:<line>: ..." or the
// section and key) of the first problem; a repeat names the first line too.
bool parseHostConfig(const std::string& text, const std::string& path, HostConfig& config,
                     std::string& error);
// Reads and parses the file at `path`, then reads the pins file it leads to (Pins.h), which
// must be as strict: a malformed one fails the load with its line. On success the settings
// for the plug-in's HTTP client (each array's ca-file, the pins file) are installed for the
// process (PluginSettings.h); on failure nothing is installed.
bool loadHostConfig(const std::string& path, HostConfig& config, std::string& error);

// The file used without --config: $KYSNAP_CONFIG, else $XDG_CONFIG_HOME/kysnap/kysnap.conf
// (~/.config/...) when it exists, else /etc/kysnap/kysnap.conf.
std::string defaultConfigPath();

}  // namespace kysnap
