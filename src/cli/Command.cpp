#include "cli/Command.h"

std::string CCommand::BrokenRule() const {
    for (const std::function<std::string()>& check : m_rules) {
        if (std::string broken = check(); !broken.empty()) {
            return broken;
        }
    }
    return {};
}
