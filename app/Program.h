#pragma once

// The program as started from a desktop entry, a file manager or a shell: the arguments decide
// between the window (with FILE loaded when given) and a batch edit without a window, and this
// returns the exit code. main is nothing more, so that a test can start the program as a user does.
namespace Program {

int run(int argc, char** argv);

} // namespace Program
