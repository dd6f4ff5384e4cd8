#include "cli/HelpFormatter.h"

#include <sstream>

std::string CHelpFormatter::make_help(const CLI::App* app, std::string name,
                                      CLI::AppFormatMode mode) const {
    std::ostringstream out;
    out << make_usage(app, name);
    if (app->get_parent() != nullptr) {
        const std::string& text = app->get_description();
        std::istringstream paragraphs(text.substr(text.find('\n') + 1));
        for (std::string paragraph; std::getline(paragraphs, paragraph);) {
            out << Wrapped(paragraph, 0) << '\n';
        }
    }
    out << make_subcommands(app, mode) << make_groups(app, mode);
    if (!app->get_footer().empty()) {
        out << '\n' << Wrapped(app->get_footer(), 0) << '\n';
    }
    return out.str();
}

std::string CHelpFormatter::make_usage(const CLI::App* app, std::string name) const {
    if (app->get_parent() == nullptr) {
        return "usage: " + name + " COMMAND [OPTIONS]\n";
    }
    return "usage: " + name + Synopsis(app) + " [OPTIONS]\n";
}

std::string CHelpFormatter::make_subcommand(const CLI::App* sub) const {
    return Columns(sub->get_name() + Synopsis(sub), Summary(sub));
}

std::string CHelpFormatter::make_option(const CLI::Option* option, bool bPositional) const {
    return Columns(make_option_name(option, bPositional) + make_option_opts(option),
                   make_option_desc(option));
}

std::string CHelpFormatter::Wrapped(const std::string& text, std::size_t indent) {
    std::istringstream words(text);
    std::string out;
    std::size_t column = indent;
    for (std::string word; words >> word;) {
        if (!out.empty() && column + 1 + word.size() > kWidth) {
            out += '\n' + std::string(indent, ' ');
            column = indent;
        } else if (!out.empty()) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
    }
    return out;
}

std::string CHelpFormatter::Columns(const std::string& name, const std::string& text) const {
    std::string line = "  " + name;
    if (line.size() + 1 > column_width_) {
        line += '\n';
        line += std::string(column_width_, ' ');
    } else {
        line.resize(column_width_, ' ');
    }
    return line + Wrapped(text, column_width_) + '\n';
}

std::string CHelpFormatter::Synopsis(const CLI::App* app) const {
    const auto found = m_synopsis.find(app->get_name());
    return found == m_synopsis.end() || found->second.empty() ? "" : " " + found->second;
}

std::string CHelpFormatter::Summary(const CLI::App* app) {
    const std::string& text = app->get_description();
    return text.substr(0, text.find('\n'));
}
