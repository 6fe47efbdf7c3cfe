// qelda-convert: converts one powder scan between file formats, no window.
#include <cstdio>
#include <string>
#include <vector>

#include "app/convert_cli.h"
#include "core/platform.h"

int main(int argc, char** argv) {
    // UTF-8 arguments whatever the system hands over (Windows: its wide
    // command line).
    const std::vector<std::string> args = qelda::platform::utf8_arguments(argc, argv);
    std::vector<const char*> pointers;
    for (const auto& a : args) pointers.push_back(a.c_str());
    pointers.push_back(nullptr);
    qelda::platform::prepare_standard_streams();
    return qelda::run_convert_cli(static_cast<int>(args.size()), pointers.data(), stdout, stderr);
}
