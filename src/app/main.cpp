#include "app/MeterlyMain.hpp"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv, argv + argc);
    return meterly::app::MeterlyMain::main(arguments);
}
