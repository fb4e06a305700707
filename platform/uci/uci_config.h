// Configuration files in UCI syntax: sections ("config <type> ['<name>']") holding options
// ("option <key> '<value>'") and lists ("list <key> '<item>'"), read into memory and written
// back in the canonical layout.
#pragma once

#include <string>
#include <vector>

namespace uci {

struct Option {
    std::string name;
    bool isList = false;
    std::string value;               // an option
    std::vector<std::string> items;  // a list
};

struct Section {
    std::string type;
    std::string name;  // generated for anonymous sections
    bool anonymous = false;
    std::vector<Option> options;

    Option *find(const std::string &option);
    bool erase(const std::string &option);
};

struct Config {
    std::vector<Section> sections;

    // A section by name, or by "@type[index]" (negative indexes count from the end).
    Section *find(const std::string &ref);
    bool erase(const std::string &name);
};

struct ParseError {
    int line = 0;
    std::string reason;
};

constexpr size_t kMaxFileSize = 1u << 20;

// Names of configurations, sections and options: letters, digits and '_' (and '-' for
// configurations, which are file names).
bool validName(const std::string &name);
bool validConfigName(const std::string &name);
// A section reference: a valid name or "@type[index]".
bool validSectionRef(const std::string &ref);

bool parse(const std::string &text, Config &out, ParseError &err);
std::string format(const Config &config);

}  // namespace uci
