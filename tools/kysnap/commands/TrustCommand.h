// SPDX-License-Identifier: Apache-2.0
// `kysnap trust`: pins an array's public key, for an array whose own certificate cannot be
// verified (a self-made one that names another host, say).
//
//   kysnap trust ARRAY [--yes]   connects, shows the certificate and its key pin, asks the
//                                person to compare the pin with the array's console, and on
//                                confirmation (a line "y" or "yes" on standard input, or
//                                --yes) writes it to the pins file (Pins.h) for the array's
//                                address, replacing any pin it had
//   kysnap trust --list          the pins file's entries, with the arrays they belong to
//   kysnap trust --remove ARRAY  removes the array's pins
//
// --list, --remove and --replace are named fields of Options, taken as the command table's row
// allows. Exit status 0 when done; 1 when not confirmed, the array cannot be reached, it is
// pinned to another key without --replace, or the configuration or pins file is at fault; 2
// (kExitUsage) for a combination of operands and options trust does not take.
#pragma once

#include "Options.h"

namespace kysnap {

int runTrust(const Options& options);

}  // namespace kysnap
