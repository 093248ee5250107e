#include "Korvane.h"

int main(int argc, char** argv) {
    return korvaneMain(argc, argv);
}
