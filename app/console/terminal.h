// The console around the program: whether a person sits at it, Ctrl+C, and
// lines typed on standard input, read without stopping the message loop.
#pragma once

#include <optional>
#include <string>

namespace mvx::cli {

// Whether standard input is a terminal (someone can answer a question).
bool StdinIsTerminal();

// Counts Ctrl+C (and, on Linux, SIGTERM and SIGHUP) from now on instead of
// ending the program at once.
void CatchInterrupts();
// How often the program was interrupted so far.
int Interrupts();

// The next line typed on standard input, when one has come (a thread reads
// them once the first is asked for); nothing yet. At the end of the input:
// an empty optional with at_end set.
std::optional<std::string> TypedLine(bool& at_end);

}  // namespace mvx::cli
