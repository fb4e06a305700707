// Reading and writing UCI-syntax configuration text.
#include "uci_config.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace uci {

namespace {

bool nameChar(char c) { return isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Splits one line into words with shell-like quoting: '...' literal, "..." with backslash
// escapes, a backslash outside quotes escapes the next character, '#' starts a comment.
bool splitWords(const std::string &line, std::vector<std::string> &words, std::string &reason) {
    size_t i = 0, n = line.size();
    while (i < n) {
        while (i < n && isspace(static_cast<unsigned char>(line[i]))) i++;
        if (i >= n || line[i] == '#') break;
        std::string word;
        while (i < n && !isspace(static_cast<unsigned char>(line[i]))) {
            char c = line[i++];
            if (c == '\'') {
                size_t end = line.find('\'', i);
                if (end == std::string::npos) {
                    reason = "unterminated quote";
                    return false;
                }
                word.append(line, i, end - i);
                i = end + 1;
            } else if (c == '"') {
                bool closed = false;
                while (i < n) {
                    char d = line[i++];
                    if (d == '"') {
                        closed = true;
                        break;
                    }
                    if (d == '\\' && i < n) d = line[i++];
                    word += d;
                }
                if (!closed) {
                    reason = "unterminated quote";
                    return false;
                }
            } else if (c == '\\' && i < n) {
                word += line[i++];
            } else {
                word += c;
            }
        }
        words.push_back(word);
    }
    return true;
}

// Name of an anonymous section: "cfg", its 1-based position (2 hex digits) and a 16-bit hash
// of its type and options (4 hex digits).
std::string anonymousName(size_t position, const Section &s) {
    uint32_t h = 2166136261u;
    auto mix = [&h](const std::string &text) {
        for (unsigned char c : text) h = (h ^ c) * 16777619u;
        h = (h ^ 0xff) * 16777619u;
    };
    mix(s.type);
    for (const Option &o : s.options) {
        mix(o.name);
        if (o.isList)
            for (const std::string &item : o.items) mix(item);
        else
            mix(o.value);
    }
    char name[16];
    snprintf(name, sizeof name, "cfg%02zx%04x", position & 0xff, (h ^ (h >> 16)) & 0xffff);
    return name;
}

std::string quoted(const std::string &value) {
    std::string out = "'";
    for (char c : value) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

}  // namespace

Option *Section::find(const std::string &option) {
    for (Option &o : options)
        if (o.name == option) return &o;
    return nullptr;
}

bool Section::erase(const std::string &option) {
    for (auto it = options.begin(); it != options.end(); ++it) {
        if (it->name == option) {
            options.erase(it);
            return true;
        }
    }
    return false;
}

Section *Config::find(const std::string &ref) {
    if (!ref.empty() && ref[0] == '@') {
        size_t open = ref.find('['), close = ref.size() - 1;
        if (open == std::string::npos || ref[close] != ']' || open < 2) return nullptr;
        std::string type = ref.substr(1, open - 1);
        std::string digits = ref.substr(open + 1, close - open - 1);
        char *end = nullptr;
        long index = strtol(digits.c_str(), &end, 10);
        if (digits.empty() || *end) return nullptr;
        std::vector<Section *> ofType;
        for (Section &s : sections)
            if (s.type == type) ofType.push_back(&s);
        if (index < 0) index += static_cast<long>(ofType.size());
        if (index < 0 || index >= static_cast<long>(ofType.size())) return nullptr;
        return ofType[static_cast<size_t>(index)];
    }
    for (Section &s : sections)
        if (s.name == ref) return &s;
    return nullptr;
}

bool Config::erase(const std::string &name) {
    for (auto it = sections.begin(); it != sections.end(); ++it) {
        if (it->name == name) {
            sections.erase(it);
            return true;
        }
    }
    return false;
}

bool validName(const std::string &name) {
    if (name.empty()) return false;
    for (char c : name)
        if (!nameChar(c)) return false;
    return true;
}

bool validConfigName(const std::string &name) {
    if (name.empty()) return false;
    for (char c : name)
        if (!nameChar(c) && c != '-') return false;
    return true;
}

bool validSectionRef(const std::string &ref) {
    if (validName(ref)) return true;
    if (ref.size() < 5 || ref[0] != '@' || ref.back() != ']') return false;
    size_t open = ref.find('[');
    if (open == std::string::npos || !validName(ref.substr(1, open - 1))) return false;
    std::string digits = ref.substr(open + 1, ref.size() - open - 2);
    if (!digits.empty() && digits[0] == '-') digits.erase(0, 1);
    if (digits.empty()) return false;
    for (char c : digits)
        if (!isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

bool parse(const std::string &text, Config &out, ParseError &err) {
    out.sections.clear();
    Section *current = nullptr;
    std::vector<size_t> anonymousAt;
    int lineNo = 0;
    size_t pos = 0;
    auto fail = [&](const std::string &reason) {
        err.line = lineNo;
        err.reason = reason;
        return false;
    };
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        lineNo++;
        std::vector<std::string> words;
        std::string reason;
        if (!splitWords(line, words, reason)) return fail(reason);
        if (words.empty()) continue;
        const std::string &kw = words[0];
        if (kw == "package") {
            if (words.size() != 2) return fail("package needs one name");
        } else if (kw == "config") {
            if (words.size() < 2 || words.size() > 3) return fail("config needs a type and at most one name");
            if (!validName(words[1])) return fail("invalid section type '" + words[1] + "'");
            if (words.size() == 3 && !validName(words[2])) return fail("invalid section name '" + words[2] + "'");
            Section *existing = words.size() == 3 ? out.find(words[2]) : nullptr;
            if (existing) {
                existing->type = words[1];  // a repeated name reopens the section
                current = existing;
                continue;
            }
            Section s;
            s.type = words[1];
            s.anonymous = words.size() == 2;
            if (!s.anonymous) s.name = words[2];
            out.sections.push_back(s);
            if (s.anonymous) anonymousAt.push_back(out.sections.size() - 1);
            current = &out.sections.back();
        } else if (kw == "option" || kw == "list") {
            if (!current) return fail(kw + " outside of a section");
            if (words.size() != 3) return fail(kw + " needs a name and a value");
            if (!validName(words[1])) return fail("invalid option name '" + words[1] + "'");
            Option *o = current->find(words[1]);
            if (!o) {
                current->options.push_back(Option{words[1], false, "", {}});
                o = &current->options.back();
            }
            if (kw == "option") {
                o->isList = false;
                o->items.clear();
                o->value = words[2];
            } else {
                if (!o->isList) o->value.clear();
                o->isList = true;
                o->items.push_back(words[2]);
            }
        } else {
            return fail("unknown keyword '" + kw + "'");
        }
    }
    for (size_t i : anonymousAt) out.sections[i].name = anonymousName(i + 1, out.sections[i]);
    return true;
}

std::string format(const Config &config) {
    std::string out;
    for (const Section &s : config.sections) {
        out += "\nconfig " + s.type;
        if (!s.anonymous) out += " " + quoted(s.name);
        out += "\n";
        for (const Option &o : s.options) {
            if (o.isList) {
                for (const std::string &item : o.items) out += "\tlist " + o.name + " " + quoted(item) + "\n";
            } else {
                out += "\toption " + o.name + " " + quoted(o.value) + "\n";
            }
        }
    }
    return out + "\n";
}

}  // namespace uci
