// SPDX-License-Identifier: Apache-2.0
#include "CommandLine.h"

#include <getopt.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <variant>
#include <vector>

namespace kysnap {

namespace {

// Long options without a short form; each command option's getopt value is
// kFirstCommandOption plus its row's index.
enum LongOnly { kState = 256, kPlugin, kPassword, kFirstCommandOption = 512 };

// The longest cap on a freeze: a filesystem frozen longer stalls every writer on it.
constexpr int kMostFreezeSeconds = 3600;

// Where a command option's value goes: a flag (no value), a text, a text per use (repeatable),
// or whole seconds from 1 to kMostFreezeSeconds.
using OptionTarget = std::variant<bool Options::*, std::string Options::*,
                                  std::vector<std::string> Options::*, int Options::*>;

// A command option: its long name, its short letter (0: none), its bit and its target.
struct CommandOptionRow {
    const char* name;
    char letter;
    CommandOption option;
    OptionTarget target;
};

// In the order kysnap --help lists them.
const CommandOptionRow kCommandOptions[] = {
    {"array", 'a', kOptionArray, &Options::array},
    {"snapshot", 0, kOptionSnapshot, &Options::snapshots},
    {"dry-run", 'n', kOptionDryRun, &Options::dryRun},
    {"destroy-newer", 0, kOptionDestroyNewer, &Options::destroyNewer},
    {"yes", 'y', kOptionYes, &Options::yes},
    {"replace", 0, kOptionReplace, &Options::replace},
    {"list", 0, kOptionList, &Options::list},
    {"remove", 0, kOptionRemove, &Options::remove},
    {"policy", 0, kOptionPolicy, &Options::policy},
    {"warn", 0, kOptionWarn, &Options::warn},
    {"crit", 0, kOptionCrit, &Options::crit},
    {"prom-textfile", 0, kOptionPromTextfile, &Options::promTextfile},
    {"freeze", 0, kOptionFreeze, &Options::freeze},
    {"freeze-timeout", 0, kOptionFreezeTimeout, &Options::freezeTimeout},
    {"pre-hook", 0, kOptionPreHook, &Options::preHook},
    {"post-hook", 0, kOptionPostHook, &Options::postHook},
    {"allow-crash-consistent", 0, kOptionAllowCrashConsistent, &Options::allowCrashConsistent},
};

// The global options, then every command option, then the terminating row getopt_long needs.
std::vector<option> longOptions() {
    std::vector<option> all = {
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {"verbose", no_argument, nullptr, 'v'},
        {"quiet", no_argument, nullptr, 'q'},
        {"json", no_argument, nullptr, 'J'},
        {"config", required_argument, nullptr, 'c'},
        {"state", required_argument, nullptr, kState},
        {"plugin", required_argument, nullptr, kPlugin},
        {"password", optional_argument, nullptr, kPassword},
    };
    int value = kFirstCommandOption;
    for (const CommandOptionRow& row : kCommandOptions) {
        const bool flag = std::holds_alternative<bool Options::*>(row.target);
        all.push_back({row.name, flag ? no_argument : required_argument, nullptr,
                       row.letter != 0 ? row.letter : value});
        ++value;
    }
    all.push_back({nullptr, 0, nullptr, 0});
    return all;
}

// The command option getopt_long answered `c` for; null when `c` is none.
const CommandOptionRow* commandOptionOf(int c) {
    const int count = static_cast<int>(std::size(kCommandOptions));
    if (c >= kFirstCommandOption && c < kFirstCommandOption + count) {
        return &kCommandOptions[c - kFirstCommandOption];
    }
    for (const CommandOptionRow& row : kCommandOptions) {
        if (row.letter != 0 && row.letter == c) {
            return &row;
        }
    }
    return nullptr;
}

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
std::string optionNeedingValue(const std::vector<option>& all) {
    for (const option& known : all) {
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

// Sets the option's target from `value` (null for a flag) and notes that it was given. False
// with `problem` set when the value is not one the target takes.
bool applyOption(const CommandOptionRow& row, const char* value, Options& options,
                 std::string& problem) {
    options.commandOptions.push_back(row.option);
    if (const auto flag = std::get_if<bool Options::*>(&row.target)) {
        options.*(*flag) = true;
    } else if (const auto text = std::get_if<std::string Options::*>(&row.target)) {
        options.*(*text) = value;
    } else if (const auto texts = std::get_if<std::vector<std::string> Options::*>(&row.target)) {
        (options.*(*texts)).push_back(value);
    } else if (const auto seconds = std::get_if<int Options::*>(&row.target)) {
        if (!wholeSeconds(value, options.*(*seconds))) {
            problem = std::string("--") + row.name + " takes whole seconds from 1 to " +
                      std::to_string(kMostFreezeSeconds) + ", not " + value;
            return false;
        }
    }
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
    const std::vector<option> all = longOptions();
    for (;;) {
        optopt = 0;
        const int c = getopt_long(argc, argv, kShortOptions, all.data(), nullptr);
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
            case 'c':
                options.config = optarg;
                break;
            case kState:
                options.state = optarg;
                break;
            case kPlugin:
                options.plugin = optarg;
                break;
            case kPassword:
                refuse(
                    "passwords are never given on the command line: use password-file or "
                    "password-env in the configuration");
                break;
            case ':':
                refuse(optionNeedingValue(all) + " needs a value");
                break;
            default: {
                std::string problem;
                if (const CommandOptionRow* row = commandOptionOf(c)) {
                    if (!applyOption(*row, optarg, options, problem)) {
                        refuse(problem);
                    }
                    break;
                }
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

// The option as the user writes it ("--array").
std::string optionName(CommandOption option) {
    for (const CommandOptionRow& known : kCommandOptions) {
        if (known.option == option) {
            return std::string("--") + known.name;
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
    for (const CommandOptionRow& known : kCommandOptions) {
        if ((mask & known.option) != 0) {
            names.push_back(std::string("--") + known.name);
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
