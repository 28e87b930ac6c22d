// Writes a synthetic transcript tree and its totals:
//   transcript_tree_generate <root> [bytes] [files] [projects] [seed] [oversized lines]
// or appends lines to the first files of an existing tree and prints the totals of the append:
//   transcript_tree_generate --append <root> <files> <lines> <seed>
#include "TranscriptTreeGenerator.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace meterly::bench;

int main(int argc, char** argv) {
    try {
        if (argc >= 6 && std::string(argv[1]) == "--append") {
            TranscriptTreeGenerator generator(TreeShape{});
            const auto totals = generator.append(argv[2], std::atoi(argv[3]), std::atoi(argv[4]),
                                                 std::strtoull(argv[5], nullptr, 10));
            std::fputs(totals.describe().c_str(), stdout);
            return 0;
        }
        if (argc < 2) {
            std::fprintf(stderr,
                         "usage: %s <root> [bytes] [files] [projects] [seed] [oversized]\n"
                         "       %s --append <root> <files> <lines> <seed>\n",
                         argv[0], argv[0]);
            return 2;
        }
        TreeShape shape;
        if (argc > 2)
            shape.totalBytes = std::strtoull(argv[2], nullptr, 10);
        if (argc > 3)
            shape.files = std::atoi(argv[3]);
        if (argc > 4)
            shape.projects = std::atoi(argv[4]);
        if (argc > 5)
            shape.seed = std::strtoull(argv[5], nullptr, 10);
        if (argc > 6)
            shape.oversizedLines = std::atoi(argv[6]);
        const auto totals = TranscriptTreeGenerator(shape).generate(argv[1]);
        std::fputs(totals.describe().c_str(), stdout);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
