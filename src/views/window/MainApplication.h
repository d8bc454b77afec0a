#pragma once

namespace halvik::views {

// Runs the windowed application until its last window closes.
int runWindowApplication(int argc, char** argv);

} // namespace halvik::views
