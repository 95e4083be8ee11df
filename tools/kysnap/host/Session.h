// SPDX-License-Identifier: Apache-2.0
// Session: what one kysnap run works with, set up in order and torn down in reverse: the host
// configuration, the catalog (locked for the run), the arrays with their passwords, the host
// backend, the plug-in, and the log and wait hooks the plug-in reaches through libkyplatform.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ArrayDirectory.h"
#include "Catalog.h"
#include "CatalogStore.h"
#include "HostBackend.h"
#include "HostConfig.h"
#include "Options.h"
#include "PluginLibrary.h"
#include "PluginLog.h"
#include "RetryProgress.h"

namespace kysnap {

class Session {
public:
    // What a command needs besides the configuration; each command's row holds it.
    struct Needs {
        enum class Catalog {
            None,
            Read,         // locked shared (read-only)
            ReadAsSaved,  // as last saved, without waiting for a run that writes it
            Write,        // locked exclusive
        };
        enum class Reach {
            Configuration,  // nothing more
            Host,           // the arrays with their passwords, and the host backend
            Plugin,         // also the plug-in and the log and wait hooks
        };
        enum class Config {
            Required,
            // Without a configuration (none given, none at the default places) the run goes on
            // as this Linux machine with no array configured.
            Optional,
        };
        enum class Passwords {
            Read,  // read for Host and Plugin
            // Read only for the sim backend, whose devices only the arrays' host views show.
            OnlyForSim,
        };
        Catalog catalog = Catalog::None;
        Reach reach = Reach::Configuration;
        Config config = Config::Required;
        Passwords passwords = Passwords::Read;
    };

    // The configuration `options` name (--config, $KYSNAP_CONFIG, the default places), read
    // into `config`. When `optional` and none is given nor exists, `config` is this Linux
    // machine's with no array. False with `error` set.
    static bool loadConfig(const Options& options, bool optional, HostConfig& config,
                           std::string& error);

    // Null with `error` set (one clear message) when a part cannot be set up.
    static std::unique_ptr<Session> open(const Options& options, Needs needs, std::string& error);
    ~Session();

    // Saves the catalog; false with `error` set.
    bool saveCatalog(std::string& error);

    const Options options;
    HostConfig config;
    Catalog catalog;
    std::vector<ArrayAccess> arrays;
    // Declared so that the plug-in is unloaded last and the hooks go first.
    std::unique_ptr<PluginLibrary> plugin;
    std::unique_ptr<CatalogStore> store;
    std::unique_ptr<ArrayDirectory> directory;
    std::unique_ptr<HostBackend> backend;
    std::unique_ptr<PluginLog> log;
    std::unique_ptr<RetryProgress> progress;

    // The configuration's retry settings as the plug-in will use them.
    int retryCount() const;

private:
    explicit Session(Options given) : options(std::move(given)) {}
};

}  // namespace kysnap
