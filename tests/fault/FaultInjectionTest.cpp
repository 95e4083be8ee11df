// SPDX-License-Identifier: Apache-2.0
// Every exported operation against an array that misbehaves: error answers with and without a
// text the plug-in recognises, malformed and truncated JSON, redirects and HTML pages in place
// of the array's answer, dropped connections, stalls past the request time-out, refused
// credentials and a certificate the host does not trust. Each
// must end with the operation's failure status and error for the host, within the time-outs,
// without a metadata write, and leave the process fit for the next call.
#include <chrono>
#include <cstdlib>
#include <functional>
#include <set>

#include "Faults.h"
#include "PluginSite.h"
#include "TlsCertificate.h"

namespace e2e {
namespace {

using site::kDbHostPort;
using site::kOraData;

const char* const kGeneric = "snap operation failed. please check logs for more details";
const char* const kCredentials =
    "snap operation failed. Access Denied. Please check array user credentials";

struct Operation {
    const char* name;
    const char* exportName;
    int32_t failedStatus;  // 0: the status stays as it was
    int32_t errorCode;
};

enum class Misbehaviour {
    ServerError,
    RecognisedRefusal,
    MalformedJson,
    TruncatedJson,
    Drop,
    Stall,
    WrongPassword,
    UntrustedCertificate,
    Redirect301,
    Redirect301WithPage,
    Redirect302,
    Redirect302WithPage,
    HtmlPage,
};

const std::pair<Misbehaviour, const char*> kMisbehaviours[] = {
    {Misbehaviour::ServerError, "HTTP 500"},
    {Misbehaviour::RecognisedRefusal, "HTTP 500 Access Denied"},
    {Misbehaviour::MalformedJson, "malformed JSON"},
    {Misbehaviour::TruncatedJson, "truncated JSON"},
    {Misbehaviour::Drop, "dropped connection"},
    {Misbehaviour::Stall, "stall past the time-out"},
    {Misbehaviour::WrongPassword, "refused credentials"},
    {Misbehaviour::UntrustedCertificate, "untrusted certificate"},
    {Misbehaviour::Redirect301, "HTTP 301 without body"},
    {Misbehaviour::Redirect301WithPage, "HTTP 301 with an HTML body"},
    {Misbehaviour::Redirect302, "HTTP 302 without body"},
    {Misbehaviour::Redirect302WithPage, "HTTP 302 with an HTML body"},
    {Misbehaviour::HtmlPage, "HTTP 200 with an HTML page"},
};

// What a login page or a proxy in front of the array answers.
const char* const kHtmlPage = "<html><head><title>Sign in</title></head><body>0</body></html>";

class FaultInjection : public PluginSite {
protected:
    void SetUp() override {
        PluginSite::SetUp();
        array = &startArray("arr");
        hostWith({{kDbHostPort, false}});
        std::string error;
        tlscert::CertificateFiles other;
        ASSERT_TRUE(tlscert::ensureServerCertificate(
            std::string(KYSNAP_BINARY_DIR) + "/fault-untrusted-tls", {"127.0.0.1"}, other, error))
            << error;
        untrustedCa = other.caCertFile;
        trustedCa = array->simulator->caFile();
    }

    // A request for ora-data brought to the state the operation starts from.
    TestSnapInfo& readyFor(const Operation& op) {
        const std::string snapId = "KY-F" + std::to_string(++serial);
        TestSnapInfo& request =
            newRequest(*array, simhost::SimulatedHost::deviceName(kOraData), snapId);
        request.findArrayHostDefault = 0;
        PluginSite::readyFor(op.exportName, *array, {&request});
        return request;
    }

    void arm(Misbehaviour what, TestSnapInfo& request) {
        arraysim::Fault fault;
        fault.remaining = -1;
        switch (what) {
            case Misbehaviour::ServerError:
                break;
            case Misbehaviour::RecognisedRefusal:
                fault.code = "EZEBI_PERMISSION_DENIED";
                fault.message = "Access Denied";
                break;
            // The array carries the call out, then its answer comes back broken.
            case Misbehaviour::MalformedJson:
                fault.action = arraysim::FaultAction::Malformed;
                fault.process = true;
                break;
            case Misbehaviour::TruncatedJson:
                fault.action = arraysim::FaultAction::Truncate;
                fault.process = true;
                break;
            case Misbehaviour::Drop:
                fault.action = arraysim::FaultAction::Drop;
                break;
            case Misbehaviour::Stall:
                fault.action = arraysim::FaultAction::Latency;
                fault.latencyMs = 2500;
                setenv("KYSNAP_HTTP_TIMEOUT", "1", 1);
                break;
            case Misbehaviour::WrongPassword:
                request.arrayInfo = arrayInfo(*array, "not-the-password");
                util.arrayInfoByName["arr"] = request.arrayInfo;
                return;
            case Misbehaviour::UntrustedCertificate:
                setenv("KYSNAP_TLS_CA_FILE", untrustedCa.c_str(), 1);
                return;
            // Something in front of the array answers instead of it: the array does nothing.
            case Misbehaviour::Redirect301:
            case Misbehaviour::Redirect301WithPage:
            case Misbehaviour::Redirect302:
            case Misbehaviour::Redirect302WithPage:
            case Misbehaviour::HtmlPage: {
                const bool page =
                    what != Misbehaviour::Redirect301 && what != Misbehaviour::Redirect302;
                fault.action = arraysim::FaultAction::Respond;
                fault.status =
                    what == Misbehaviour::HtmlPage ? 200
                    : what == Misbehaviour::Redirect301 || what == Misbehaviour::Redirect301WithPage
                        ? 301
                        : 302;
                fault.body = page ? kHtmlPage : "";
                fault.contentType = "text/html";
                break;
            }
        }
        array->simulator->faults().add(fault);
    }

    void disarm() {
        array->simulator->faults().clear();
        util.arrayInfoByName["arr"] = arrayInfo(*array);
        unsetenv("KYSNAP_HTTP_TIMEOUT");
        setenv("KYSNAP_TLS_CA_FILE", trustedCa.c_str(), 1);
    }

    // Runs `op` under every misbehaviour. Where the array's refusal reaches the host
    // unchanged (`credentialsReach`) it gets the credentials text, else the text pointing to
    // the logs. Under `succeeds` the array did the work and said so in a way the operation
    // reads as done (an answer it does not read, or a command status cut to nothing).
    void sweep(const Operation& op, bool credentialsReach,
               const std::set<Misbehaviour>& succeeds = {}) {
        for (const auto& [what, label] : kMisbehaviours) {
            SCOPED_TRACE(std::string(op.name) + " under " + label);
            TestSnapInfo& request = readyFor(op);
            const int32_t statusBefore = request.status;
            const size_t writesBefore = request.metaDataWrites.size();
            arm(what, request);
            const auto started = std::chrono::steady_clock::now();
            const KYSO::ResultCode result = call(op.exportName, {&request});
            const auto took = std::chrono::steady_clock::now() - started;
            disarm();

            EXPECT_LT(took, std::chrono::seconds(what == Misbehaviour::Stall ? 6 : 3));
            EXPECT_EQ(request.logText().find("not-the-password"), std::string::npos);
            if (succeeds.count(what) != 0) {
                EXPECT_EQ(result, KYSO::RESULT_SUCCESS) << request.logText();
                EXPECT_TRUE(request.errors.empty());
            } else {
                EXPECT_EQ(result, KYSO::RESULT_FAILED) << request.logText();
                EXPECT_EQ(request.status, op.failedStatus != 0 ? op.failedStatus : statusBefore);
                EXPECT_EQ(request.metaDataWrites.size(), writesBefore);
                const bool refused =
                    what == Misbehaviour::WrongPassword || what == Misbehaviour::RecognisedRefusal;
                ASSERT_EQ(request.errors.size(), 1u) << request.logText();
                EXPECT_EQ(request.errors[0].code, op.errorCode);
                EXPECT_EQ(request.errors[0].message,
                          refused && credentialsReach ? kCredentials : kGeneric);
            }

            // The next call runs as if nothing had happened.
            TestSnapInfo& next = readyFor({"prepare", "kyso_prepareDevices", 0, 0});
            EXPECT_EQ(call("kyso_prepareDevices", {&next}), KYSO::RESULT_SUCCESS) << next.logText();
        }
    }

    site::SiteArray* array = nullptr;
    std::string trustedCa;
    std::string untrustedCa;
    int serial = 0;
};

TEST_F(FaultInjection, Prepare) {
    sweep({"prepare", "kyso_prepareDevices", KYSO::SNAP_PREPARE_FAILED, KYSO::ERROR_PREPARE}, true);
}

// Array discovery, the batch create and initiator choice replace the array's refusal by
// their own failure, so the host is pointed to the logs.
TEST_F(FaultInjection, ProcessVpd) {
    sweep({"process VPD", "kyso_processVPDInfo", KYSO::SNAP_PREPARE_FAILED, KYSO::ERROR_PREPARE},
          false);
}

TEST_F(FaultInjection, Snap) {
    sweep({"snap", "kyso_snapDevices", KYSO::SNAP_CREATE_FAILED, KYSO::ERROR_CREATE}, false);
}

TEST_F(FaultInjection, Map) {
    sweep({"map", "kyso_mapSnaps", KYSO::SNAP_MOUNT_FAILED, KYSO::ERROR_MOUNT}, false);
}

// Deleting the clone answers nothing: an answer cut to nothing after the array did it is a
// done unmount, but text that is not JSON is no answer of the array's (the next unmap finds the
// clone gone and succeeds).
TEST_F(FaultInjection, Unmap) {
    sweep({"unmap", "kyso_unmapSnaps", KYSO::SNAP_UNMOUNT_FAILED, KYSO::ERROR_UNMOUNT}, true,
          {Misbehaviour::TruncatedJson});
}

TEST_F(FaultInjection, Delete) {
    sweep({"delete", "kyso_deleteSnaps", KYSO::SNAP_DELETE_FAILED, KYSO::ERROR_DELETE}, true);
}

// A rollback answers its command status: cut to nothing it says nothing against success, and
// garbage in its place is a failure.
TEST_F(FaultInjection, Revert) {
    sweep({"revert", "kyso_revertSnaps", KYSO::SNAP_REVERT_FAILED, KYSO::ERROR_REVERT}, true,
          {Misbehaviour::TruncatedJson});
}

TEST_F(FaultInjection, Reconcile) {
    sweep({"reconcile", "kyso_reconcileSnaps", 0, KYSO::ERROR_RECONCILE}, true);
}

}  // namespace
}  // namespace e2e
