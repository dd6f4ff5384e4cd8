#include "cli/CommandLine.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Commands.h"
#include "cli/Exit.h"
#include "cli/HelpFormatter.h"
#include "cli/Interrupt.h"
#include "cli/Output.h"
#include "core/version/ModuleVersion.h"

namespace {

// "velmo-cli 1.0.0.0": the program and the project's version, as packages write it.
std::string VersionLine() {
    CModuleVersion version;
    version.LoadVersion(nullptr);
    return "velmo-cli " + std::to_string(version.Major()) + '.' + std::to_string(version.Minor()) +
           '.' + std::to_string(version.Build()) + '.' + std::to_string(version.Revision());
}

// velmo-cli's parser: the program's own options, and a subcommand for each command, on which the
// command declares its options.
class CParser {
public:
    explicit CParser(const TestSeams& seams) {
        m_app.formatter(m_formatter);
        m_app.set_help_flag("-h,--help",
                            "this text; COMMAND --help or help COMMAND for a command's options");
        m_app.set_version_flag("-V,--version", VersionLine, "the version line");
        m_app.require_subcommand(1);
        m_app.footer(
            "Exit status: as COMMAND --help says; for every command 64 for a usage error, 74 when "
            "standard output cannot be written.");
        m_formatter->column_width(28);
        for (const std::unique_ptr<CCommand>& command : m_commands) {
            CLI::App* app = m_app.add_subcommand(command->Name(), command->Help());
            app->group("Commands");
            app->set_help_flag("-h,--help", "this text");
            app->allow_extras();  // refused after parsing, in plainer words
            m_formatter->SetSynopsis(command->Name(), command->Synopsis());
            command->Define(*app);
            if (seams) {
                seams(*app, command->Limits());
            }
        }
    }

    // The command the line names, its line checked; or the exit status of help, the version or a
    // usage error, said already.
    OrExit<CCommand*> Parse(int argc, char** argv);

private:
    CCommand* FindCommand(std::string_view name) const;
    // Before the command: an option that belongs after one, or none of the program's.
    Exit RefuseLeadingOption(const std::string& arg) const;
    // Arguments the command did not take: options first.
    std::string Extras(const CLI::App& command) const;

    std::vector<std::unique_ptr<CCommand>> m_commands = MakeCommands();
    CLI::App m_app{"", "velmo-cli"};
    std::shared_ptr<CHelpFormatter> m_formatter = std::make_shared<CHelpFormatter>();
};

CCommand* CParser::FindCommand(std::string_view name) const {
    for (const std::unique_ptr<CCommand>& command : m_commands) {
        if (command->Name() == name) {
            return command.get();
        }
    }
    return nullptr;
}

Exit CParser::RefuseLeadingOption(const std::string& arg) const {
    const std::string name = arg.substr(0, arg.find('='));
    const std::vector<const CLI::App*> commands = m_app.get_subcommands({});
    const bool bCommandOption =
        std::any_of(commands.begin(), commands.end(), [&](const CLI::App* command) {
            return name.size() > 1 && command->get_option_no_throw(name) != nullptr;
        });
    if (bCommandOption) {
        return Usage(EscapeControls(name) + " goes after a command, as in velmo-cli probe URL " +
                     EscapeControls(name) + "; velmo-cli --help lists the commands");
    }
    return Usage("unknown option " + EscapeControls(name) +
                 "; velmo-cli --help lists the commands");
}

std::string CParser::Extras(const CLI::App& command) const {
    std::vector<std::string> extras = command.remaining();
    std::erase(extras, "--");  // left over once the arguments after it were taken
    if (extras.empty()) {
        return {};
    }
    const std::string& name = command.get_name();
    const auto option = std::find_if(extras.begin(), extras.end(),
                                     [](const std::string& arg) { return arg.starts_with('-'); });
    if (option != extras.end()) {
        return name + " has no option " + EscapeControls(option->substr(0, option->find('='))) +
               "; velmo-cli " + name + " --help lists its options";
    }
    return name + " takes no argument " + EscapeControls(extras.front()) + "; velmo-cli " + name +
           " --help";
}

OrExit<CCommand*> CParser::Parse(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << m_app.help();
        return Exit{kExitUsage};
    }
    std::vector<std::string> args(argv + 1, argv + argc);
    // "help COMMAND" is "COMMAND --help", "help" alone is "--help".
    if (args.front() == "help") {
        if (args.size() > 2 || (args.size() == 2 && FindCommand(args[1]) == nullptr)) {
            return Usage("help takes one command of velmo-cli --help, not " +
                         EscapeControls(args.back()));
        }
        args = args.size() == 2 ? std::vector<std::string>{args[1], "--help"}
                                : std::vector<std::string>{"--help"};
    }
    const std::string first = args.front();
    if (first.starts_with('-') && first != "-h" && first != "--help" && first != "-V" &&
        first != "--version") {
        return RefuseLeadingOption(first);
    }
    try {
        std::reverse(args.begin(), args.end());  // CLI11 takes them last first
        m_app.parse(args);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) {
            return Exit{m_app.exit(error)};
        }
        if (!first.starts_with('-') && FindCommand(first) == nullptr) {
            return Usage("unknown command " + EscapeControls(first) +
                         "; velmo-cli --help lists the commands");
        }
        return Usage(EscapeControls(error.what()));
    }
    const CLI::App& app = *m_app.get_subcommands().front();
    CCommand* command = FindCommand(app.get_name());
    if (const std::string extras = Extras(app); !extras.empty()) {
        return Usage(extras);
    }
    if (const std::string broken = command->BrokenRule(); !broken.empty()) {
        return Usage(broken);
    }
    return command;
}

}  // namespace

int RunVelmoCli(int argc, char** argv, const TestSeams& seams) {
    InstallInterruptHandlers();
    CParser parser(seams);
    const OrExit<CCommand*> command = parser.Parse(argc, argv);
    return FinishOutput(command ? (*command)->Run() : command.Status());
}
