// SPDX-License-Identifier: Apache-2.0
// PromTextfile: the metrics of `kysnap monitor --prom-textfile`, in the Prometheus text format
// that node_exporter's textfile collector reads. Each family has its HELP and TYPE lines once,
// before its samples; label values are escaped (backslash, double quote, newline); series are
// sorted, so that the same state gives the same file.
//
//   kysnap_newest_snapshot_age_seconds{device,array}       gauge, from the catalog
//   kysnap_newest_snapshot_timestamp_seconds{device,array} gauge, from the catalog
//   kysnap_good_snapshots{device}                           gauge, from the catalog
//   kysnap_last_success_timestamp_seconds{operation,device,array}  gauge, from the audit log
//   kysnap_operation_duration_seconds{operation,device,array}      gauge: the last request's
//   kysnap_operation_failures_total{operation,device,array}        counter
//   kysnap_audit_malformed_lines                            gauge
//   kysnap_monitor_status                                   gauge: the exit status, 0 to 3
//
// Only the devices judged appear, so that one file per policy holds no series of another's.
#pragma once

#include <string>
#include <vector>

#include "AuditLog.h"
#include "Freshness.h"

namespace kysnap {

// The text of the file for `freshness` and the audit log's `records` (those of other devices
// are left out), with `health` as the monitor's status.
std::string promTextfile(const Freshness& freshness, const std::vector<AuditRecord>& records,
                         Health health);

// `text` as a label value between double quotes: backslash, quote and newline escaped.
std::string promLabelValue(const std::string& text);

}  // namespace kysnap
