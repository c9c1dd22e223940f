#include <iostream>

#include "NxDbAdmin.h"

int main(int argc, char** argv) {
    return nxdb::runCommandLine(argc, argv, std::cout, std::cerr);
}
