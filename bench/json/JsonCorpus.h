// SPDX-License-Identifier: Apache-2.0
// Realistic array answers for the JSON benchmarks, written out by hand (not by the library
// under test) and the same on every run: a listVolumes answer and a snapshot listing, in the
// compact form an array sends.
#pragma once

#include <string>

namespace bench {

// A listVolumes answer of `count` volume objects, with the members the plug-in reads.
std::string listVolumesAnswer(int count);

// A listSnapshots answer: `count` full snapshot names spread over a few volumes.
std::string snapshotListing(int count);

}  // namespace bench
