// SPDX-License-Identifier: Apache-2.0
// The settings seam: how the platform's HTTP client reaches arrays (trusted CA files, the pins
// file, whether certificates are checked, time-outs), read by every client when it is set up
// (KYLibCurlInit) and by probeTls (TlsProbe.h).
//
// A host that installs nothing gets environmentSettings(), read afresh at each set-up, as a
// real backup host does. A host process that knows better (kysnap, from its configuration)
// installs its own settings with setPlatformSettings; they then replace the environment
// entirely, so the process never needs to change its environment to configure the plug-in.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "KyPlatformExport.h"

namespace kyplatform {

constexpr long kDefaultConnectTimeoutSeconds = 30;
constexpr long kDefaultTotalTimeoutSeconds = 300;
// Larger time-outs are taken as a mistake: a stalled array must not hold a backup for days.
constexpr long kMaxTimeoutSeconds = 24L * 3600;

enum class TlsChecks {
    Verify,  // certificate chain and host name are checked (a pinned array: its pin)
    Off,     // nothing is checked: for isolated test networks only
};

struct TimeLimit {
    enum class Origin { Default, Given };
    long seconds = 0;
    // How a person changes the limit; a time-out's message names it.
    std::string setting;
    // Given: somebody chose the value; Default: nobody did, so a host may choose another.
    Origin origin = Origin::Default;
};

// What applies to one array only.
struct ArraySettings {
    // host, host:port, [IPv6] or [IPv6]:port, as the array's URLs name it; compared as
    // addressKey (TlsPins.h) does, so 10.0.0.5 and 10.0.0.5:443 are one array.
    std::string address;
    // PEM CA certificates trusted for this array in place of PlatformSettings::caFile; empty
    // means that one.
    std::string caFile;
};

struct PlatformSettings {
    // PEM CA certificates trusted for every array without its own; empty: the system store.
    std::string caFile;
    // Public-key pins per array address (format in TlsPins.h); empty: no array is pinned. The
    // file is read at each set-up, so a change reaches the next client.
    std::string pinsFile;
    TlsChecks tlsChecks = TlsChecks::Verify;
    // What turned the checks off, named in the warning every client logs while they are off.
    std::string tlsChecksOffBy = "KYSNAP_TLS_INSECURE=1";
    // For the connection phase (TCP and TLS handshake) and for a whole request; values outside
    // 1..kMaxTimeoutSeconds are ignored with a warning.
    TimeLimit connectTimeout{kDefaultConnectTimeoutSeconds, "KYSNAP_HTTP_CONNECT_TIMEOUT"};
    TimeLimit totalTimeout{kDefaultTotalTimeoutSeconds, "KYSNAP_HTTP_TIMEOUT"};
    std::vector<ArraySettings> arrays;
    // What reading the settings ignored or found weakening; every client set up with them logs
    // each one as a warning.
    std::vector<std::string> warnings;
};

// The settings the environment gives: KYSNAP_TLS_CA_FILE, KYSNAP_TLS_PINS_FILE,
// KYSNAP_TLS_INSECURE (1: TlsChecks::Off), KYSNAP_HTTP_CONNECT_TIMEOUT and KYSNAP_HTTP_TIMEOUT
// (whole seconds; a variable that is set makes its limit Origin::Given). A value that cannot be
// used keeps the default and adds a warning. Never fails.
KYPLATFORM_API PlatformSettings environmentSettings();

// Installs a copy of `settings` for every client set up from now on, in any thread; nullopt
// goes back to the environment. Returns the settings installed before (nullopt when the
// environment was in use), so that a caller can put them back. Thread-safe.
KYPLATFORM_API std::optional<PlatformSettings> setPlatformSettings(
    std::optional<PlatformSettings> settings);

// A copy of the settings in force: the installed ones, else environmentSettings(). The copy is
// the caller's; later installs do not change it.
KYPLATFORM_API PlatformSettings platformSettings();

// The settings of `address` in `settings` (compared by addressKey), or null.
KYPLATFORM_API const ArraySettings* findArraySettings(const PlatformSettings& settings,
                                                      const std::string& address);

// The CA file trusted for `address`: its own, else the general one; empty for the system store.
KYPLATFORM_API std::string caFileFor(const PlatformSettings& settings, const std::string& address);

}  // namespace kyplatform
