#pragma once

#include <CLI/CLI.hpp>

#include <cstddef>
#include <map>
#include <string>

// The help in this program's layout: the usage line first, with each command's arguments named;
// then, for a command, the paragraphs of its help; the commands or options in two columns; the
// footer, if any; the text wrapped at 80 columns.
class CHelpFormatter : public CLI::Formatter {
public:
    // What the usage line and the list of commands show after the command's name.
    void SetSynopsis(const std::string& command, std::string synopsis) {
        m_synopsis[command] = std::move(synopsis);
    }

    std::string make_help(const CLI::App* app, std::string name,
                          CLI::AppFormatMode mode) const override;
    std::string make_usage(const CLI::App* app, std::string name) const override;
    std::string make_subcommand(const CLI::App* sub) const override;
    std::string make_option(const CLI::Option* option, bool bPositional) const override;

private:
    static constexpr std::size_t kWidth = 80;

    // `text` in lines of at most kWidth columns that start at column `indent`; the caller has
    // filled the first line up to it.
    static std::string Wrapped(const std::string& text, std::size_t indent);
    // "  NAME   TEXT": the text wrapped in its column; a name too wide for it has a line of its
    // own.
    std::string Columns(const std::string& name, const std::string& text) const;
    std::string Synopsis(const CLI::App* app) const;
    // The first line of the description; the lines after it are for the command's own help.
    static std::string Summary(const CLI::App* app);

    std::map<std::string, std::string> m_synopsis;
};
