// velmo-cli: the spider test, the address probe, polling and detection for scripts and terminals.
#include "cli/CommandLine.h"

int main(int argc, char** argv) {
    return RunVelmoCli(argc, argv);
}
