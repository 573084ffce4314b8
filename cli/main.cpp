// apupgrade: the command-line host of the ledger upgrade component.
#include "cli/commands.h"

int main(int argc, char** argv) { return velaccap::cli::Main(argc, argv); }
