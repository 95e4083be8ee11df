// SPDX-License-Identifier: Apache-2.0
#include "CommandLine.h"

#include <getopt.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kysnap {

namespace {

// Long options without a short form.
enum LongOnly {
    kState = 256,
    kPlugin,
    kSnapshot,
    kPassword,
    kList,
    kRemove,
    kReplace,
    kDestroyNewer,
    kPolicy,
    kWarn,
    kCrit,
    kPromTextfile,
    kFreeze,
    kFreezeTimeout,
    kPreHook,
    kPostHook,
    kAllowCrashConsistent
};

// The longest cap on a freeze: a filesystem frozen longer stalls every writer on it.
constexpr int kMostFreezeSeconds = 3600;

const option kLongOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"verbose", no_argument, nullptr, 'v'},
    {"quiet", no_argument, nullptr, 'q'},
    {"json", no_argument, nullptr, 'J'},
    {"config", required_argument, nullptr, 'c'},
    {"state", required_argument, nullptr, kState},
    {"plugin", required_argument, nullptr, kPlugin},
    {"array", required_argument, nullptr, 'a'},
    {"snapshot", required_argument, nullptr, kSnapshot},
    {"dry-run", no_argument, nullptr, 'n'},
    {"yes", no_argument, nullptr, 'y'},
    {"destroy-newer", no_argument, nullptr, kDestroyNewer},
    {"list", no_argument, nullptr, kList},
    {"remove", no_argument, nullptr, kRemove},
    {"replace", no_argument, nullptr, kReplace},
    {"policy", required_argument, nullptr, kPolicy},
    {"warn", required_argument, nullptr, kWarn},
    {"crit", required_argument, nullptr, kCrit},
    {"prom-textfile", required_argument, nullptr, kPromTextfile},
    {"freeze", required_argument, nullptr, kFreeze},
    {"freeze-timeout", required_argument, nullptr, kFreezeTimeout},
    {"pre-hook", required_argument, nullptr, kPreHook},
    {"post-hook", required_argument, nullptr, kPostHook},
    {"allow-crash-consistent", no_argument, nullptr, kAllowCrashConsistent},
    {"password", optional_argument, nullptr, kPassword},
    {nullptr, 0, nullptr, 0},
};
// ':' first: a missing value is told apart from an unknown option.
const char kShortOptions[] = ":hVvqJc:a:ny";

// The option getopt_long just refused, as the user wrote it: a long one with what followed it,
// a short one alone (it may stand in a cluster).
std::string refusedOption(char** argv, int argc) {
    const std::string word = optind >= 1 && optind - 1 < argc ? argv[optind - 1] : "";
    if (word.rfind("--", 0) == 0) {
        return word;
    }
    return std::string("-") + static_cast<char>(optopt);
}

// The long name of the option whose value was missing.
std::string optionNeedingValue() {
    for (const option& known : kLongOptions) {
        if (known.name != nullptr && known.val == optopt) {
            return std::string("--") + known.name;
        }
    }
    return std::string("-") + static_cast<char>(optopt);
}

// Digits only, 1 to kMostFreezeSeconds.
bool wholeSeconds(const char* text, int& seconds) {
    const std::string given = text;
    if (given.empty() || given.size() > 4 ||
        given.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const int value = std::stoi(given);
    if (value < 1 || value > kMostFreezeSeconds) {
        return false;
    }
    seconds = value;
    return true;
}

}  // namespace

bool parseCommandLine(int argc, char** argv, Options& options, std::string& error) {
    optind = 0;  // a full re-initialisation, should a process parse twice
    opterr = 0;
    error.clear();
    // The first problem is the one said; parsing goes on to the end.
    const auto refuse = [&error](const std::string& problem) {
        if (error.empty()) {
            error = problem;
        }
    };
    for (;;) {
        optopt = 0;
        const int c = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr);
        if (c == -1) {
            break;
        }
        switch (c) {
            case 'h':
                options.help = true;
                break;
            case 'V':
                options.version = true;
                break;
            case 'v':
                options.verbose = true;
                break;
            case 'q':
                options.quiet = true;
                break;
            case 'J':
                options.json = true;
                break;
            case 'n':
                options.dryRun = true;
                options.commandOptions.push_back(kOptionDryRun);
                break;
            case 'y':
                options.yes = true;
                options.commandOptions.push_back(kOptionYes);
                break;
            case kDestroyNewer:
                options.destroyNewer = true;
                options.commandOptions.push_back(kOptionDestroyNewer);
                break;
            case 'c':
                options.config = optarg;
                break;
            case 'a':
                options.array = optarg;
                options.commandOptions.push_back(kOptionArray);
                break;
            case kState:
                options.state = optarg;
                break;
            case kPlugin:
                options.plugin = optarg;
                break;
            case kSnapshot:
                options.snapshots.push_back(optarg);
                options.commandOptions.push_back(kOptionSnapshot);
                break;
            case kList:
                options.list = true;
                options.commandOptions.push_back(kOptionList);
                break;
            case kRemove:
                options.remove = true;
                options.commandOptions.push_back(kOptionRemove);
                break;
            case kReplace:
                options.replace = true;
                options.commandOptions.push_back(kOptionReplace);
                break;
            case kPolicy:
                options.policy = optarg;
                options.commandOptions.push_back(kOptionPolicy);
                break;
            case kWarn:
                options.warn = optarg;
                options.commandOptions.push_back(kOptionWarn);
                break;
            case kCrit:
                options.crit = optarg;
                options.commandOptions.push_back(kOptionCrit);
                break;
            case kPromTextfile:
                options.promTextfile = optarg;
                options.commandOptions.push_back(kOptionPromTextfile);
                break;
            case kFreeze:
                options.freeze.push_back(optarg);
                options.commandOptions.push_back(kOptionFreeze);
                break;
            case kFreezeTimeout:
                if (!wholeSeconds(optarg, options.freezeTimeout)) {
                    refuse("--freeze-timeout takes whole seconds from 1 to " +
                           std::to_string(kMostFreezeSeconds) + ", not " + optarg);
                }
                options.commandOptions.push_back(kOptionFreezeTimeout);
                break;
            case kPreHook:
                options.preHook = optarg;
                options.commandOptions.push_back(kOptionPreHook);
                break;
            case kPostHook:
                options.postHook = optarg;
                options.commandOptions.push_back(kOptionPostHook);
                break;
            case kAllowCrashConsistent:
                options.allowCrashConsistent = true;
                options.commandOptions.push_back(kOptionAllowCrashConsistent);
                break;
            case kPassword:
                refuse(
                    "passwords are never given on the command line: use password-file or "
                    "password-env in the configuration");
                break;
            case ':':
                refuse(optionNeedingValue() + " needs a value");
                break;
            default: {
                const std::string given = refusedOption(argv, argc);
                const size_t equals = given.find('=');
                refuse(given.rfind("--", 0) == 0 && equals != std::string::npos
                           ? given.substr(0, equals) + " takes no value"
                           : "unknown option " + given + " (kysnap --help)");
                break;
            }
        }
    }
    // GNU getopt has moved every operand behind the options, in their order.
    for (int i = optind; i < argc; ++i) {
        if (options.command.empty()) {
            options.command = argv[i];
        } else {
            options.arguments.push_back(argv[i]);
        }
    }
    return error.empty();
}

namespace {

// The command options, as the user writes them.
struct CommandOptionName {
    CommandOption option;
    const char* name;
};

const CommandOptionName kCommandOptionNames[] = {
    {kOptionArray, "--array"},
    {kOptionSnapshot, "--snapshot"},
    {kOptionDryRun, "--dry-run"},
    {kOptionDestroyNewer, "--destroy-newer"},
    {kOptionYes, "--yes"},
    {kOptionReplace, "--replace"},
    {kOptionList, "--list"},
    {kOptionRemove, "--remove"},
    {kOptionPolicy, "--policy"},
    {kOptionWarn, "--warn"},
    {kOptionCrit, "--crit"},
    {kOptionPromTextfile, "--prom-textfile"},
    {kOptionFreeze, "--freeze"},
    {kOptionFreezeTimeout, "--freeze-timeout"},
    {kOptionPreHook, "--pre-hook"},
    {kOptionPostHook, "--post-hook"},
    {kOptionAllowCrashConsistent, "--allow-crash-consistent"},
};

const char* optionName(CommandOption option) {
    for (const CommandOptionName& known : kCommandOptionNames) {
        if (known.option == option) {
            return known.name;
        }
    }
    return "?";
}

// "prepare and vpd", "delete, revert and trust": the commands that take `option`.
std::string commandsTaking(CommandOption option) {
    std::vector<std::string> names;
    for (const Command& command : commands()) {
        if ((command.options & option) != 0) {
            names.push_back(command.name);
        }
    }
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    }
    return text;
}

std::string operandsText(int count, const char* noun) {
    return (count == 1 ? std::string("one ") : std::to_string(count) + " ") + noun +
           (count == 1 ? "" : "s");
}

}  // namespace

std::vector<std::string> commandOptionNames(unsigned mask) {
    std::vector<std::string> names;
    for (const CommandOptionName& known : kCommandOptionNames) {
        if ((mask & known.option) != 0) {
            names.push_back(known.name);
        }
    }
    return names;
}

bool fitsCommand(const Command& command, const Options& options, std::string& error) {
    for (const CommandOption given : options.commandOptions) {
        if ((command.options & given) == 0) {
            error = std::string(optionName(given)) + " is for " + commandsTaking(given) +
                    " (kysnap " + command.name + " --help)";
            return false;
        }
    }
    const Operands& operands = command.operands;
    const int count = static_cast<int>(options.arguments.size());
    const bool named =
        operands.namedBy != 0 &&
        std::find(options.commandOptions.begin(), options.commandOptions.end(),
                  static_cast<CommandOption>(operands.namedBy)) != options.commandOptions.end();
    if (named && count > 0) {
        error = std::string(command.name) + " takes no " + operands.noun + " with " +
                optionName(static_cast<CommandOption>(operands.namedBy)) +
                ", which names them (kysnap " + command.name + " --help)";
        return false;
    }
    if (named) {
        return true;
    }
    const bool tooFew = count < operands.least;
    const bool tooMany = operands.most != kAnyNumber && count > operands.most;
    if (!tooFew && !tooMany) {
        return true;
    }
    std::string takes;
    if (operands.most == 0) {
        takes = std::string(" takes no ") + operands.noun;
    } else if (operands.most == operands.least) {
        takes = " takes " + operandsText(operands.least, operands.noun);
    } else if (tooFew) {
        takes =
            " needs at least " + operandsText(operands.least, operands.noun) +
            (operands.namedBy != 0
                 ? std::string(" or ") + optionName(static_cast<CommandOption>(operands.namedBy))
                 : std::string());
    } else {
        takes = " takes at most " + operandsText(operands.most, operands.noun);
    }
    error = std::string(command.name) + takes + " (kysnap " + command.name + " --help)";
    return false;
}

}  // namespace kysnap
