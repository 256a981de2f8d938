#include <iostream>

#include "cli/run.hpp"

int main(int argc, char** argv) { return srb::run(argc, argv, std::cout, std::cerr); }
