#include "support/FakeExecutable.hpp"

#include <fstream>
#include <stdexcept>

namespace meterly::testing {

namespace {

void writeFile(const std::filesystem::path& path, std::string_view contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

// Single-quoted for the shell.
std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

} // namespace

FakeExecutable::FakeExecutable(const std::filesystem::path& folder, std::string_view name)
    : path_(folder / name), state_(folder / (std::string(name) + ".state")) {
    std::filesystem::create_directories(state_);
    std::string script =
        "#!/bin/sh\n"
        "state=" +
        shellQuoted(state_.string()) +
        "\n"
        "line=\"$*\"\n"
        "if [ -f \"$state/watch\" ]; then\n"
        "  if [ -e \"$(cat \"$state/watch\")\" ]; then line=\"$line [present]\";\n"
        "  else line=\"$line [absent]\"; fi\n"
        "fi\n"
        "printf '%s\\n' \"$line\" >> \"$state/calls\"\n"
        "verb=\n"
        "for a in \"$@\"; do\n"
        "  case \"$a\" in -*) ;; *) verb=$a; break ;; esac\n"
        "done\n"
        "status=0\n"
        "queue=\"$state/$verb.status\"\n"
        "if [ -n \"$verb\" ] && [ -f \"$queue\" ]; then\n"
        "  status=$(head -n 1 \"$queue\")\n"
        "  if [ \"$(wc -l < \"$queue\")\" -gt 1 ]; then\n"
        "    tail -n +2 \"$queue\" > \"$queue.next\" && mv \"$queue.next\" \"$queue\"\n"
        "  fi\n"
        "fi\n"
        "output=\"$state/$verb.output\"\n"
        "if [ -n \"$verb\" ] && [ -f \"$state/$verb.missing\" ] &&\n"
        "   [ ! -e \"$(cat \"$state/$verb.missing\")\" ]; then\n"
        "  status=$(cat \"$state/$verb.missing.status\")\n"
        "  output=\"$state/$verb.missing.output\"\n"
        "fi\n"
        "if [ -n \"$verb\" ] && [ -f \"$output\" ]; then\n"
        "  cat \"$output\"\n"
        "fi\n"
        "exit \"$status\"\n";
    writeFile(path_, script);
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all);
    writeFile(state_ / "calls", "");
}

void FakeExecutable::answer(std::string_view verb, std::vector<int> statuses,
                            std::string_view output) {
    std::string queue;
    for (int status : statuses) {
        queue += std::to_string(status) + "\n";
    }
    writeFile(state_ / (std::string(verb) + ".status"), queue);
    writeFile(state_ / (std::string(verb) + ".output"), output);
}

void FakeExecutable::answerWhileMissing(const std::filesystem::path& path, std::string_view verb,
                                        int status, std::string_view output) {
    const std::string base = std::string(verb) + ".missing";
    writeFile(state_ / base, path.string());
    writeFile(state_ / (base + ".status"), std::to_string(status) + "\n");
    writeFile(state_ / (base + ".output"), output);
}

void FakeExecutable::watch(const std::filesystem::path& path) const {
    writeFile(state_ / "watch", path.string());
}

std::vector<std::string> FakeExecutable::calls() const {
    std::ifstream in(state_ / "calls");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

void FakeExecutable::clearCalls() const {
    writeFile(state_ / "calls", "");
}

} // namespace meterly::testing
