// Svcsweep's entry point: the program itself is RunSvcsweep (program.cpp).
#include "svcsweep.h"

int main(int argc, char* argv[]) { return RunSvcsweep(argc, argv); }
