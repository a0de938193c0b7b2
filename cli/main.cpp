// qx4: the reader from the command line. Usage and help come from the command table.
#include "command_table.h"
#include "field_file.h"

#include <iostream>

namespace {

constexpr const char* kOptions = R"(connection and request options (anywhere on the line):
  --port N            COM number (default 3)
  --device PATH       serial device or pty for that COM number (sets QX4_COM<N>)
  --slow              9600 baud instead of 19200
  --timeout MS        response time-out (default 2000)
  --simulate [F.json] use a simulated reader in this process (field from a tag dump)
  --addressed         address the tag found by an inventory (UID designation 1)
  --uid HEX           address this tag (16 hex digits, most significant first)
  --option            set the ISO 15693 option flag (block reads add the security status)
  --block-size N      block size in bytes (default 4)
  --trace             print every frame sent (->) and received (<-) on standard error
  --json              print one JSON object per subcommand
exit status: 0 success, 1 the reader answered with an error or not at all, 2 bad usage
)";

void PrintUsage(std::ostream& out) {
    out << "usage: qx4 [options] COMMAND [arguments]\n\ncommands:\n";
    for (const auto& command : qx4cli::Commands()) {
        std::string head = std::string(command.name) + " " + command.arguments;
        head.resize(std::max<size_t>(head.size() + 1, 34), ' ');
        out << "  " << head << command.help << "\n";
    }
    out << "  help [COMMAND]\n\n" << kOptions;
}

int PrintHelp(const std::string& name) {
    const qx4cli::CommandInfo* command = qx4cli::FindCommand(name);
    if (!command) {
        std::cerr << "qx4: no command " << name << "; 'qx4 help' lists them\n";
        return 2;
    }
    std::cout << "usage: qx4 [options] " << command->name << " " << command->arguments << "\n  "
              << command->help << "\nexample:\n  " << command->example << "\n\n"
              << kOptions;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    qx4cli::Options options;
    std::vector<std::string> words;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            auto value = [&]() -> std::string {
                if (i + 1 >= argc) throw qx4cli::UsageError(arg + " needs a value");
                return argv[++i];
            };
            auto number = [&](int low, int high) {
                const std::string text = value();
                char* end = nullptr;
                const long n = std::strtol(text.c_str(), &end, 0);
                if (text.empty() || *end || n < low || n > high)
                    throw qx4cli::UsageError(arg + " takes a number from " + std::to_string(low) +
                                             " to " + std::to_string(high));
                return static_cast<int>(n);
            };
            if (arg == "--port")
                options.port = number(1, 255);
            else if (arg == "--device")
                options.device = value();
            else if (arg == "--slow")
                options.slow = true;
            else if (arg == "--timeout")
                options.timeoutMs = number(0, 600000);
            else if (arg == "--simulate") {
                options.simulate = true;
                if (i + 1 < argc && std::string(argv[i + 1]).ends_with(".json"))
                    options.fieldFile = argv[++i];
            } else if (arg == "--addressed")
                options.addressed = true;
            else if (arg == "--uid") {
                const auto uid = qx4sim::ParseUidText(value());
                if (!uid) throw qx4cli::UsageError("--uid takes 16 hexadecimal digits");
                options.uid = *uid;
            } else if (arg == "--option")
                options.option = true;
            else if (arg == "--block-size")
                options.blockSize = number(1, 32);
            else if (arg == "--trace")
                options.trace = true;
            else if (arg == "--json")
                options.json = true;
            else if (arg == "--help" || arg == "-h")
                words.insert(words.begin(), "help");
            else
                words.push_back(arg);
        }
        if (words.empty() || words[0] == "help") {
            if (words.size() > 1) return PrintHelp(words[1]);
            PrintUsage(words.empty() ? std::cerr : std::cout);
            return words.empty() ? 2 : 0;
        }
        const qx4cli::CommandInfo* command = qx4cli::FindCommand(words[0]);
        if (!command)
            throw qx4cli::UsageError("no command " + words[0] + "; 'qx4 help' lists them");
        qx4cli::Session session(options, {words.begin() + 1, words.end()});
        try {
            command->run(session);
        } catch (const qx4cli::UsageError&) {
            throw;
        } catch (const std::exception& error) {
            session.Finish(command->name);
            std::cerr << "qx4: " << error.what() << "\n";
            return 1;
        }
        return session.Finish(command->name);
    } catch (const qx4cli::UsageError& error) {
        std::cerr << "qx4: " << error.what() << "\n";
        if (!words.empty())
            if (const auto* command = qx4cli::FindCommand(words[0]))
                std::cerr << "usage: qx4 [options] " << command->name << " " << command->arguments
                          << "\n";
        return 2;
    }
}
