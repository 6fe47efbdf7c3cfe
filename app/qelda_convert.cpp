// qelda-convert: converts one powder scan between file formats, no window.
#include <cstdio>

#include "app/convert_cli.h"

int main(int argc, char** argv) {
    return qelda::run_convert_cli(argc, argv, stdout, stderr);
}
