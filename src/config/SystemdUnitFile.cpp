#include "config/SystemdUnitFile.hpp"

#include "core/AsciiText.hpp"

namespace meterly::config {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view trimmed(std::string_view text) {
    return core::ascii::trimmed(text, isBlank);
}

// One word of a command line in double quotes: C escapes for the quote, the backslash and
// control characters, "%%" for a percent sign (specifiers are expanded everywhere) and, except in
// the executable's path, "$$" for a dollar sign (variables are expanded in arguments).
std::string quotedWord(std::string_view word, bool isExecutable) {
    if (!isExecutable && word == ";") {
        return "\\;"; // a lone ";" would separate two commands
    }
    std::string out = "\"";
    for (const char c : word) {
        if (c == '%') {
            out += "%%";
        } else if (c == '$') {
            out += isExecutable ? "$" : "$$";
        } else {
            core::ascii::appendQuoted(out, c, "\\x%02x");
        }
    }
    return out + "\"";
}

// A path written as the whole value of a setting: no quoting, only specifiers are expanded.
std::string pathValue(const std::string& path, const char* setting) {
    if (path.empty() || path.front() != '/') {
        throw UnitFileError(std::string(setting) + " needs an absolute path: " + path);
    }
    std::string out;
    for (const char c : path) {
        if (core::ascii::isControl(c)) {
            throw UnitFileError(std::string(setting) + " path holds a control character");
        }
        out += c == '%' ? std::string("%%") : std::string(1, c);
    }
    if (isBlank(out.back())) {
        throw UnitFileError(std::string(setting) + " path ends in white space");
    }
    return out;
}

bool isVariableName(std::string_view name) {
    if (name.empty() || (name.front() >= '0' && name.front() <= '9')) {
        return false;
    }
    for (char c : name) {
        bool ok =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok) {
            return false;
        }
    }
    return true;
}

// Reads one backslash escape starting after the backslash at `i`; false when it is none systemd
// would accept in a command line.
bool readEscape(std::string_view text, std::size_t& i, std::string& word) {
    if (i >= text.size()) {
        return false;
    }
    char c = text[i++];
    switch (c) {
    case 'a':
        word += '\a';
        return true;
    case 'b':
        word += '\b';
        return true;
    case 'f':
        word += '\f';
        return true;
    case 'n':
        word += '\n';
        return true;
    case 'r':
        word += '\r';
        return true;
    case 't':
        word += '\t';
        return true;
    case 'v':
        word += '\v';
        return true;
    case 's':
        word += ' ';
        return true;
    case '\\':
    case '"':
    case '\'':
        word += c;
        return true;
    case 'x': {
        if (i + 2 > text.size()) {
            return false;
        }
        int high = core::ascii::hexDigitValue(text[i]);
        int low = core::ascii::hexDigitValue(text[i + 1]);
        if (high < 0 || low < 0 || (high == 0 && low == 0)) {
            return false;
        }
        word += static_cast<char>(high * 16 + low);
        i += 2;
        return true;
    }
    default:
        if (c >= '0' && c <= '7') {
            if (i + 2 > text.size()) {
                return false;
            }
            int value = c - '0';
            for (int k = 0; k < 2; ++k) {
                char d = text[i + static_cast<std::size_t>(k)];
                if (d < '0' || d > '7') {
                    return false;
                }
                value = value * 8 + (d - '0');
            }
            if (value == 0 || value > 255) {
                return false;
            }
            word += static_cast<char>(value);
            i += 2;
            return true;
        }
        return false;
    }
}

// Splits a command line into words as systemd does for ExecStart=: blanks separate words, single
// and double quotes group, C escapes apply inside and outside quotes. A lone ";" ends the first
// command ("\;" is a literal one).
std::optional<std::vector<std::string>> splitCommandLine(std::string_view line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    for (;;) {
        while (i < line.size() && isBlank(line[i])) {
            ++i;
        }
        if (i >= line.size()) {
            break;
        }
        std::size_t start = i;
        std::string word;
        char quote = 0;
        while (i < line.size()) {
            char c = line[i];
            if (quote == 0 && isBlank(c)) {
                break;
            }
            ++i;
            if (quote != 0 && c == quote) {
                quote = 0;
            } else if (quote == 0 && (c == '"' || c == '\'')) {
                quote = c;
            } else if (c == '\\') {
                if (quote == 0 && i < line.size() && line[i] == ';') {
                    word += ';';
                    ++i;
                } else if (!readEscape(line, i, word)) {
                    return std::nullopt;
                }
            } else {
                word += c;
            }
        }
        if (quote != 0) {
            return std::nullopt;
        }
        std::string_view raw = line.substr(start, i - start);
        if (word == ";" && raw != "\\;") {
            break;
        }
        words.push_back(std::move(word));
    }
    return words;
}

// "%%" becomes "%"; other specifiers stay as they are written.
std::string withoutPercentEscapes(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == '%') {
            ++i;
        }
    }
    return out;
}

std::string withoutDollarEscapes(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == '$' && i + 1 < text.size() && text[i + 1] == '$') {
            ++i;
        }
    }
    return out;
}

} // namespace

std::string SystemdUnitFile::unitName(const LaunchAgentSpec& spec) {
    const std::string& label = spec.label;
    bool valid = !label.empty() && label.size() <= 200 && label.front() != '.' && label != "..";
    for (char c : label) {
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  c == '.' || c == '-' || c == '_' || c == ':';
        valid = valid && ok;
    }
    if (!valid) {
        throw UnitFileError("the agent label '" + label + "' is not a valid unit name");
    }
    return label + ".service";
}

std::string SystemdUnitFile::render(const LaunchAgentSpec& spec) {
    std::string name = unitName(spec);
    if (spec.programArguments.empty() || spec.programArguments.front().empty() ||
        spec.programArguments.front().front() != '/') {
        throw UnitFileError("the agent " + spec.label + " needs an absolute executable path");
    }
    std::string text;
    text += "[Unit]\n";
    text += "Description=Meterly agent " + spec.label + "\n";
    text += "\n[Service]\n";
    text += "Type=simple\n";
    text += "ExecStart=";
    for (std::size_t k = 0; k < spec.programArguments.size(); ++k) {
        if (k > 0) {
            text += ' ';
        }
        text += quotedWord(spec.programArguments[k], k == 0);
    }
    text += "\n";
    for (const auto& [key, value] : spec.environment) {
        if (!isVariableName(key)) {
            throw UnitFileError("'" + key + "' is not a valid environment variable name");
        }
        // "$" has no meaning in Environment=, only specifiers do.
        std::string assignment = quotedWord(key + "=" + value, true);
        text += "Environment=" + assignment + "\n";
    }
    if (spec.workingDirectory) {
        text += "WorkingDirectory=" + pathValue(*spec.workingDirectory, "WorkingDirectory") + "\n";
    }
    if (spec.standardOutPath) {
        text +=
            "StandardOutput=append:" + pathValue(*spec.standardOutPath, "StandardOutput") + "\n";
    }
    if (spec.standardErrorPath) {
        text +=
            "StandardError=append:" + pathValue(*spec.standardErrorPath, "StandardError") + "\n";
    }
    text += spec.keepAlive ? "Restart=always\n" : "Restart=no\n";
    if (spec.throttleInterval) {
        std::int64_t seconds = *spec.throttleInterval < 0 ? 0 : *spec.throttleInterval;
        text += "RestartSec=" + std::to_string(seconds) + "\n";
    }
    if (spec.runAtLoad) {
        text += "\n[Install]\n";
        text += "WantedBy=default.target\n";
    }
    return text;
}

std::optional<std::vector<std::string>>
SystemdUnitFile::programArguments(std::string_view unitFile) {
    std::optional<std::string> execStart;
    std::string section;
    std::string pending; // a setting continued over lines ending in a backslash
    std::size_t i = 0;
    while (i <= unitFile.size()) {
        std::size_t end = unitFile.find('\n', i);
        if (end == std::string_view::npos) {
            end = unitFile.size();
        }
        std::string_view line = trimmed(unitFile.substr(i, end - i));
        i = end + 1;

        if (line.empty() && pending.empty()) {
            continue;
        }
        if (!line.empty() && (line.front() == '#' || line.front() == ';')) {
            continue;
        }
        if (!line.empty() && line.back() == '\\') {
            pending += std::string(line.substr(0, line.size() - 1)) + " ";
            if (i <= unitFile.size()) {
                continue;
            }
            line = {};
        }
        std::string whole = pending + std::string(line);
        pending.clear();
        std::string_view setting = trimmed(whole);
        if (setting.empty()) {
            continue;
        }
        if (setting.front() == '[') {
            if (setting.back() != ']') {
                return std::nullopt;
            }
            section = std::string(setting.substr(1, setting.size() - 2));
            continue;
        }
        auto equals = setting.find('=');
        if (equals == std::string_view::npos) {
            return std::nullopt;
        }
        if (section == "Service" && trimmed(setting.substr(0, equals)) == "ExecStart") {
            std::string_view value = trimmed(setting.substr(equals + 1));
            if (value.empty()) {
                execStart.reset(); // an empty assignment clears the list
            } else {
                execStart = std::string(value);
            }
        }
    }
    if (!execStart) {
        return std::nullopt;
    }
    auto words = splitCommandLine(withoutPercentEscapes(*execStart));
    if (!words || words->empty()) {
        return std::nullopt;
    }
    // Prefixes before the executable change how it runs, not what it runs; "@" would make the
    // second word the process name, which a command line read back cannot express.
    std::string& executable = words->front();
    while (!executable.empty() &&
           std::string_view("-:+!").find(executable.front()) != std::string_view::npos) {
        executable.erase(0, 1);
    }
    if (executable.empty() || executable.front() == '@') {
        return std::nullopt;
    }
    for (std::size_t k = 1; k < words->size(); ++k) {
        (*words)[k] = withoutDollarEscapes((*words)[k]);
    }
    for (const auto& word : *words) {
        if (word.find('\0') != std::string::npos) {
            return std::nullopt; // no command line can carry it
        }
    }
    return words;
}

} // namespace meterly::config
