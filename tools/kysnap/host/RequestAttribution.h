// SPDX-License-Identifier: Apache-2.0
// RequestAttribution: which request of a batch call a plug-in log line or error is about.
// The request a line comes through does not tell: the plug-in's batch loop and its copy server
// log through the call's first request (prepare and vpd log everything there), so a failure
// of the second device arrives with the first. What tells is which request the plug-in is
// working on: it reads a request's own inputs (device, snapshot id, metadata, status) when it
// starts on it. A line or error is about the request whose inputs were read last in the call,
// or, before any was read, about the request it came through.
//
// Lines of a step that works on all requests at once (after the loop of create, mount and
// unmount) are given to the request read last; a step's failure has no one request.
#pragma once

#include <cstddef>
#include <optional>

namespace kysnap {

class RequestAttribution {
public:
    // A plug-in call begins: no request has been read in it yet.
    void callStarts() { current_.reset(); }
    // The plug-in read an input of request `index`.
    void read(size_t index) { current_ = index; }
    // The request a line or error that came through request `through` is about.
    size_t about(size_t through) const { return current_.value_or(through); }

private:
    std::optional<size_t> current_;
};

}  // namespace kysnap
