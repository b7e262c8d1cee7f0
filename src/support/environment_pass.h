// The environment pass that fills the settings slots the command line
// left empty.
#pragma once

namespace qvx {

// Fills the empty slots of env_vars from the environment and defaults.
void get_envs();

// Forgets that the first call happened (tests).
void reset_environment_pass();

} // namespace qvx
