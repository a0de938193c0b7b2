#include "run_command.h"

namespace qx4cli {

void CheckUsage(const CommandInfo& command, const std::vector<std::string>& arguments,
                const Options& options) {
    const int given = static_cast<int>(arguments.size());
    if (given < command.minArgs)
        throw UsageError(std::string(command.name) + " needs " + command.arguments);
    if (given > command.maxArgs)
        throw UsageError("unexpected argument \"" + arguments[size_t(command.maxArgs)] + "\" for " +
                         command.name);
    // A request without its UID reaches whichever tag hears it: never the one named.
    if (options.uid && options.unaddressed)
        throw UsageError("--uid and --unaddressed exclude each other: a tag named by its UID is "
                         "addressed");
    const std::string allowed = std::string(" ") + command.options + " ";
    for (const std::string& used : options.used)
        if (allowed.find(" " + used + " ") == std::string::npos)
            throw UsageError(used + " is not an option of " + command.name);
}

nlohmann::json RefusalObject(const std::string& command, const std::string& message,
                             const char* usage) {
    nlohmann::json out{{"ok", false}, {"error", message}};
    if (!command.empty()) out["command"] = command;
    if (usage) out["usage"] = usage;
    return out;
}

nlohmann::json RunForResult(const CommandInfo& command, const Options& options,
                            const std::vector<std::string>& arguments, bool* ok) {
    if (ok) *ok = false;
    const std::string usage =
        std::string("qx4 [options] ") + command.name + " " + command.arguments;
    try {
        CheckUsage(command, arguments, options);
    } catch (const UsageError& error) {
        return RefusalObject(command.name, error.what(), usage.c_str());
    }
    Session session(options, arguments);
    try {
        command.run(session);
    } catch (const UsageError& error) {
        return RefusalObject(command.name, error.what(), usage.c_str());
    } catch (const Refusal& error) {
        return RefusalObject(command.name, error.what());
    } catch (const RunEnded&) {
    } catch (const std::exception& error) {
        session.Fail(error.what());
    }
    return session.Report(command.name, ok);
}

} // namespace qx4cli
