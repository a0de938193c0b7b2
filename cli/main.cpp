// qx4: the reader from the command line. Usage and help come from the command table.
#include "command_table.h"
#include "run_command.h"

#include "tag_dump.h"

#include <csignal>
#include <cstring>
#include <iostream>
#include <string>

namespace {

constexpr const char* kExitStatus =
    "exit status:\n"
    "  0    success\n"
    "  1    the reader or the tag failed (a NACK, a lost port, a wrong answer), or the\n"
    "       result differs (restore: the tag does not hold the dump; diff: differences)\n"
    "  2    bad usage, or a refusal before anything was sent (a file that is no dump,\n"
    "       several tags where one is needed, an unconfirmed irreversible write); diff\n"
    "       also when the comparison could not be made\n"
    "  3    no tag answered, or the reader did not answer\n"
    "  130  interrupted by SIGINT (Ctrl+C), 143 by SIGTERM (watch ends with 0)\n"
    "files: dumps and --field/--state files are read only when they are regular files\n"
    "(or -, standard input) of at most 1024 KB\n";

// One entry per line, its text in a column; a head too wide for the column gets a line of
// its own. At least two spaces always part head and text: the man page is made from this
// output and tells an entry from running text by them.
void PrintEntry(std::ostream& out, std::string head, size_t column, const char* help) {
    if (head.size() + 2 > column)
        head += "\n" + std::string(column + 2, ' ');
    else
        head.resize(column, ' ');
    out << "  " << head << help << "\n";
}

void PrintOptions(std::ostream& out) {
    out << "options (anywhere on the line):\n";
    for (const auto& option : qx4cli::GlobalOptions())
        PrintEntry(out, std::string(option.name) + (*option.value ? " " : "") + option.value, 22,
                   option.help);
    out << "command options:\n";
    for (const auto& option : qx4cli::CommandOptions())
        PrintEntry(out, std::string(option.name) + (option.takesValue ? " F" : ""), 22,
                   option.help);
    out << kExitStatus;
}

void PrintUsage(std::ostream& out) {
    out << "usage: qx4 [options] COMMAND [arguments]\n\ncommands:\n";
    for (const auto& command : qx4cli::Commands())
        PrintEntry(out, std::string(command.name) + " " + command.arguments, 34, command.help);
    PrintEntry(out, "help [COMMAND]", 34, "every command, or one command's usage and example");
    out << "\n";
    PrintOptions(out);
}

int PrintHelp(const std::string& name) {
    const qx4cli::CommandInfo* command = qx4cli::FindCommand(name);
    if (!command) {
        std::cerr << "qx4: no command " << name << "; 'qx4 help' lists them\n";
        return 2;
    }
    std::cout << "usage: qx4 [options] " << command->name << " " << command->arguments
              << (*command->options ? std::string(" [") + command->options + "]" : "") << "\n  "
              << command->help << "\nexample:\n  " << command->example << "\n\n";
    PrintOptions(std::cout);
    return 0;
}

void Stop(int signal) {
    qx4cli::stopSignal = signal;
    qx4dump::TagAccess::interrupted = true;
}

// Reads what a command-line word means for `options`; false when it is no option.
bool TakeOption(const std::string& arg, int argc, char** argv, int& i, qx4cli::Options& options) {
    auto value = [&]() -> std::string {
        if (i + 1 >= argc) throw qx4cli::UsageError(arg + " needs a value");
        return argv[++i];
    };
    auto number = [&](int low, int high) {
        const std::string text = value();
        const auto n = qx4cli::ParseNumber(text);
        if (!n || *n < low || *n > high)
            throw qx4cli::UsageError(arg + " takes a number from " + std::to_string(low) + " to " +
                                     std::to_string(high) + ", not \"" + text + "\"");
        return static_cast<int>(*n);
    };
    if (arg == "--port")
        options.port = number(1, 255);
    else if (arg == "--device")
        options.device = value();
    else if (arg == "--slow")
        options.slow = true;
    else if (arg == "--timeout")
        options.timeoutMs = number(0, 60000);
    else if (arg == "--simulate") {
        options.simulate = true;
        if (i + 1 < argc && std::string(argv[i + 1]).ends_with(".json"))
            options.fieldFile = argv[++i];
    } else if (arg == "--field")
        options.fieldFile = value();
    else if (arg == "--state")
        options.stateFile = value();
    else if (arg == "--unaddressed")
        options.unaddressed = true;
    else if (arg == "--addressed")
        ; // the default now: kept for old scripts
    else if (arg == "--uid") {
        const auto uid = qx4dump::ParseUid(value());
        if (!uid) throw qx4cli::UsageError("--uid takes 16 hex digits (':' or ' ' between bytes)");
        options.uid = *uid;
    } else if (arg == "--option")
        options.option = true;
    else if (arg == "--block-size")
        options.blockSize = number(1, 32);
    else if (arg == "--blocks")
        options.blockCount = number(1, 256);
    else if (arg == "--trace")
        options.trace = true;
    else if (arg == "--json")
        options.json = true;
    else {
        // The options of single commands; which command may use them is checked later.
        bool known = false;
        for (const auto& option : qx4cli::CommandOptions())
            if (arg == option.name) known = true;
        if (!known) return false;
        options.used.push_back(arg);
        if (arg == "--all") options.all = true;
        if (arg == "--force") options.force = true;
        if (arg == "--locks") options.locks = true;
        if (arg == "--events") options.events = true;
        if (arg == "--no-probe") options.noProbe = true;
        if (arg == "--format") options.format = value();
        if (arg == "--leave-after") options.leaveAfterMs = number(1, 3600000);
        auto& records = options.ndefRecords;
        if (arg == "--uri") records.push_back({{"uri", value()}});
        if (arg == "--text") records.push_back({{"text", value()}, {"language", "en"}});
        if (arg == "--lang") {
            if (records.empty() || !records.back().contains("text"))
                throw qx4cli::UsageError("--lang goes after the --text it is for");
            records.back()["language"] = value();
        }
        if (arg == "--mime") {
            const std::string type = value();
            records.push_back({{"mime", type}, {"dataFile", value()}});
        }
        if (arg == "--message") records.push_back({{"messageFile", value()}});
    }
    return true;
}

int Report(bool json, const std::string& command, const std::string& message, int status,
           const char* usage = nullptr) {
    if (json) {
        std::cout << qx4cli::RefusalObject(command, message, usage).dump() << "\n";
    } else {
        std::cerr << "qx4: " << qx4cli::TerminalSafe(message) << "\n";
        if (usage) std::cerr << "usage: " << usage << "\n";
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    qx4cli::Options options;
    std::vector<std::string> words;
    bool json = false;
    for (int i = 1; i < argc; ++i)
        json = json || std::strcmp(argv[i], "--json") == 0;
    const qx4cli::CommandInfo* command = nullptr;
    std::string usage;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "--version") {
                std::cout << "qx4 " << QX4_VERSION << " (library " << QX4LibraryVersion() << ")\n";
                return 0;
            }
            if (arg == "--help" || arg == "-h")
                words.insert(words.begin(), "help");
            else if (arg.size() > 1 && arg[0] == '-' && !TakeOption(arg, argc, argv, i, options))
                throw qx4cli::UsageError("unknown option " + arg + "; 'qx4 help' lists them");
            else if (arg.size() <= 1 || arg[0] != '-')
                words.push_back(arg);
        }
        if (words.empty() || words[0] == "help") {
            if (words.size() > 2 && words[1] == "ndef") return PrintHelp("ndef-" + words[2]);
            if (words.size() > 1) return PrintHelp(words[1]);
            PrintUsage(words.empty() ? std::cerr : std::cout);
            return words.empty() ? 2 : 0;
        }
        // "qx4 ndef read" is the command ndef-read.
        if (words[0] == "ndef" && words.size() > 1) {
            words[1] = "ndef-" + words[1];
            words.erase(words.begin());
        }
        command = qx4cli::FindCommand(words[0]);
        if (!command)
            throw qx4cli::UsageError("no command " + words[0] + "; 'qx4 help' lists them");
        usage = std::string("qx4 [options] ") + command->name + " " + command->arguments;
        qx4cli::CheckUsage(*command, {words.begin() + 1, words.end()}, options);
        if ((!options.fieldFile.empty() || !options.stateFile.empty()) && !options.simulate)
            throw qx4cli::UsageError("--field and --state go with --simulate");
    } catch (const qx4cli::UsageError& error) {
        return Report(json, command ? command->name : "", error.what(), 2,
                      usage.empty() ? nullptr : usage.c_str());
    }

    // Ctrl+C and SIGTERM end watch, dump and restore between frames, cleanly.
    struct sigaction stop {};
    stop.sa_handler = Stop;
    ::sigemptyset(&stop.sa_mask);
    ::sigaction(SIGINT, &stop, nullptr);
    ::sigaction(SIGTERM, &stop, nullptr);

    qx4cli::Session session(options, {words.begin() + 1, words.end()});
    try {
        command->run(session);
    } catch (const qx4cli::UsageError& error) {
        return Report(json, command->name, error.what(), 2, usage.c_str());
    } catch (const qx4cli::Refusal& error) {
        return Report(json, command->name, error.what(), 2);
    } catch (const qx4cli::RunEnded&) {
    } catch (const std::exception& error) {
        session.Fail(error.what());
    }
    return session.Finish(command->name);
}
