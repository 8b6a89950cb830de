// The side-by-side runner's platform part: a machine in its clean state
// before each description is laid down.
#pragma once

#include <string>

// Makes the current machine the clean one the first call found (or a fresh
// simulated Windows); false, with `why`, when it cannot.
bool FreshMachine(std::string* why);

// What the run printed to its console, where this side can see it ("" where not).
std::string ConsoleText();
