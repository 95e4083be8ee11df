// SPDX-License-Identifier: Apache-2.0
#include "Session.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "Passwords.h"
#include "SecretMemory.h"

namespace kysnap {

namespace {

// The plug-in's own defaults when the host has no value.
constexpr int kDefaultRetryCount = 30;

}  // namespace

bool Session::loadConfig(const Options& options, bool optional, HostConfig& config,
                         std::string& error) {
    const char* variable = std::getenv("KYSNAP_CONFIG");
    const bool given = !options.config.empty() || (variable != nullptr && *variable != '\0');
    const std::string path = options.config.empty() ? defaultConfigPath() : options.config;
    if (optional && !given && access(path.c_str(), F_OK) != 0) {
        config = HostConfig();
        config.backend = BackendKind::Linux;
        return true;
    }
    if (!loadHostConfig(path, config, error)) {
        if (!given) {
            error += " (give --config FILE or set KYSNAP_CONFIG; kysnap --help shows the format)";
        }
        return false;
    }
    return true;
}

std::unique_ptr<Session> Session::open(const Options& options, Needs needs, std::string& error) {
    std::unique_ptr<Session> session(new Session(options));
    if (!loadConfig(options, needs.config == Needs::Config::Optional, session->config, error)) {
        return nullptr;
    }
    if (needs.catalog != Needs::Catalog::None) {
        const std::string statePath = options.state.empty() ? defaultStatePath() : options.state;
        session->store = CatalogStore::open(
            statePath,
            needs.catalog == Needs::Catalog::Write         ? CatalogStore::Access::Write
            : needs.catalog == Needs::Catalog::ReadAsSaved ? CatalogStore::Access::ReadSaved
                                                           : CatalogStore::Access::Read,
            [&] {
                std::fprintf(stderr, "kysnap: waiting for another kysnap run to release %s\n",
                             statePath.c_str());
            },
            error);
        if (!session->store || !session->store->load(session->catalog, error)) {
            return nullptr;
        }
    }
    if (needs.reach == Needs::Reach::Configuration) {
        return session;
    }
    // Every copy of a password made here is zeroed when it is let go; the session's own go
    // with it.
    std::vector<std::string> secrets;
    struct WipedSecrets {
        std::vector<std::string>& list;
        ~WipedSecrets() {
            for (std::string& secret : list) {
                kyplatform::wipeSecret(secret);
            }
        }
    } wipedSecrets{secrets};
    for (const ArrayConfig& array : session->config.arrays) {
        std::string password;
        const kyplatform::WipeAtScopeEnd wiped(password);
        const bool read = needs.passwords == Needs::Passwords::Read ||
                          session->config.backend == BackendKind::Sim;
        if (read && !readPassword(array, password, error)) {
            return nullptr;
        }
        if (read) {
            secrets.push_back(password);
        }
        session->arrays.push_back(
            ArrayAccess{array.name, array.address, array.user, password, array.caFile});
    }
    session->directory =
        std::make_unique<ArrayDirectory>(session->arrays, session->catalog.targets);
    session->backend = makeBackend(session->config, session->arrays);
    for (const ArrayAccess& array : session->arrays) {
        session->backend->arrayNames.push_back(array.name);
        session->backend->arrayInfoByName[array.name] = ArrayDirectory::infoText(array);
    }
    if (needs.reach != Needs::Reach::Plugin) {
        return session;
    }
    const std::string pluginPath = options.plugin.empty() ? defaultPluginPath() : options.plugin;
    session->plugin = PluginLibrary::load(pluginPath, error);
    if (!session->plugin) {
        return nullptr;
    }
    session->log = std::make_unique<PluginLog>(options.verbose, secrets);
    session->progress = std::make_unique<RetryProgress>(
        session->retryCount(), options.quiet    ? RetryProgress::Shown::Nothing
                               : isatty(2) == 1 ? RetryProgress::Shown::Terminal
                                                : RetryProgress::Shown::Lines);
    session->log->onRequestLine = [progress = session->progress.get()](const std::string& text) {
        progress->logged(text);
    };
    return session;
}

Session::~Session() {
    // The hooks go before the backend's device provider and the plug-in.
    progress.reset();
    log.reset();
    backend.reset();
}

bool Session::saveCatalog(std::string& error) {
    return store->save(catalog, error);
}

int Session::retryCount() const {
    return config.retryCount.value_or(kDefaultRetryCount);
}

}  // namespace kysnap
