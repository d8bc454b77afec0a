#pragma once

namespace halvik::cli {

// Runs one headless subcommand and returns the process exit status.
int run(int argc, char** argv);

} // namespace halvik::cli
