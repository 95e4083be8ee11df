// SPDX-License-Identifier: Apache-2.0
// The texts of the plug-in's log that the host CLI (tools/kysnap) reads to tell what happened,
// defined once for both sides: the plug-in logs or matches these constants and kysnap searches
// for them. Constants only, so kysnap includes this header without linking anything of the
// plug-in. tests/e2e/HostVocabularyTest finds each text in the golden transcripts or in what the
// plug-in logs, so a text changed on one side alone fails that test instead of leaving kysnap
// blind.
#pragma once

namespace plugintext {

// kyso_mapSnaps, level 1, the whole text of a line each: the first mapping found no device and
// the host is asked to rescan; one line per retry; the retries found the device; they did not.
inline constexpr char kRetriesStart[] = "checking all the devices discovered";
// The retries left, this one included, and the retry interval in seconds. The array API's
// polling logs the same line under its own header.
inline constexpr char kRetryFormat[] = "retry count [%d] retry inteval [%d]";
inline constexpr char kRetryFound[] = "device found from all the devices discovered";
inline constexpr char kRetriesEnd[] = "device not found from all the devices discovered";

// kyso_reconcileSnaps, level 2: a request the reconcile could not settle. A reconcile sets no
// failure status, so this line is what tells; kysnap looks for its fixed start. The format is
// made of the start by literal concatenation, so the two cannot drift apart.
#define PLUGINTEXT_RECONCILE_FAILED "CopyRequest reconcile failed"
inline constexpr char kReconcileFailed[] = PLUGINTEXT_RECONCILE_FAILED;
inline constexpr char kReconcileFailedFormat[] = PLUGINTEXT_RECONCILE_FAILED " error [%d]";
#undef PLUGINTEXT_RECONCILE_FAILED

// The array refused the credentials. The signs, each a part of one of a failed request's
// level 2 lines: the line of an array method that reads the refusal, the array's own text
// (which the plug-in logs with the answer and matches as that refusal), the status in the line
// that logs a failed answer (kHttpErrorResponseFormat with 401) and in the reason the platform
// library's HTTP transport gives (written below the plug-in, which cannot include this header;
// the test holds the sign to what it logs).
inline constexpr char kAccessDeniedLine[] =
    "access to array denied. please check array user credentials";
inline constexpr char kArrayAccessDenied[] = "Access Denied";
inline constexpr char kHttpErrorResponseFormat[] =
    "http error response received error code [%d] response [%s]";
inline constexpr char kHttpErrorResponse401[] = "error code [401]";
inline constexpr char kTransportAnswered401[] = "answered HTTP 401";
inline constexpr const char* kCredentialsRefusedSigns[] = {
    kAccessDeniedLine, kTransportAnswered401, kHttpErrorResponse401, kArrayAccessDenied};

// The array's answer when a name it is asked to make is taken ("Snapshot <path> already
// exists"), which the plug-in logs with the refused call's answer and matches for a mapping
// made before. kysnap reads it beside a snapshot id as another host's snapshot of that name.
inline constexpr char kArrayAlreadyExists[] = "already exists";

// Every request the plug-in makes of an array, level 1, through the request it works on:
// "type [T] url [https://ARRAY/zebi/api/v2/METHOD] request [BODY]". kysnap reads the array
// method out of the URL, after kApiPath. A listing answered from the call's memory is logged
// right after its request line as kCallMemoryAnswer: that request never reached the array.
#define PLUGINTEXT_REQUEST_URL "url ["
inline constexpr char kRequestUrl[] = PLUGINTEXT_REQUEST_URL;
inline constexpr char kRequestLineFormat[] = "type [%d] " PLUGINTEXT_REQUEST_URL "%s] request [%s]";
#undef PLUGINTEXT_REQUEST_URL
inline constexpr char kApiPath[] = "/zebi/api/v2/";
#define PLUGINTEXT_CALL_MEMORY_ANSWER "http response received from the call's memory"
inline constexpr char kCallMemoryAnswer[] = PLUGINTEXT_CALL_MEMORY_ANSWER;
inline constexpr char kCallMemoryAnswerFormat[] = PLUGINTEXT_CALL_MEMORY_ANSWER " [%s]";
#undef PLUGINTEXT_CALL_MEMORY_ANSWER

}  // namespace plugintext
