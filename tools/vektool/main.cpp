// vektool: converts, inspects and checks drawing documents, and packs and unpacks drawing
// payloads. See --help.
#include <iostream>
#include <string>
#include <vector>

#include "VekTool.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunVekTool(args, std::cout, std::cerr);
}
