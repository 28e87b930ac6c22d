// Helper for the preferences file tests: writes `count` integer keys "<prefix><n>" into the file
// at `path`, each change flushed on its own, so that two of these running at once interleave many
// read-modify-write cycles. Exits 0 when every write succeeded.
#include "state/DefaultsFile.hpp"

#include <cstdint>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: defaults_file_writer <path> <prefix> <count>\n";
        return 2;
    }
    meterly::state::DefaultsFile file(argv[1]);
    const int count = std::stoi(argv[3]);
    for (int n = 0; n < count; ++n) {
        file.set(std::int64_t{n}, std::string(argv[2]) + std::to_string(n));
        if (!file.flush()) {
            return 1;
        }
    }
    return 0;
}
