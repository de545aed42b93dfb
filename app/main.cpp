#include "app/run.h"

int main(int argc, char** argv) {
    return vir05::RunProgram(argc, argv);
}
