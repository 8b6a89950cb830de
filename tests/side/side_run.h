// The side-by-side runner's platform part: a machine in its clean state
// before each description is laid down, the description laid down on it,
// and what is observed there.
#pragma once

#include "description/description.h"

#include <string>
#include <vector>

// Makes the current machine the clean one the first call found (or a fresh
// simulated Windows); false, with `why`, when it cannot.
bool FreshMachine(std::string* why);

// Makes the current machine `machine` as an installer's Win32 calls lay it
// down on the clean machine; false, with `why`, when it cannot.
bool LayOnCleanMachine(const Description::Machine& machine, std::string* why);

// Lays `machine` down on this machine as it is, to plant what a description
// adds to the machine's own; false, with `why`, when it cannot.
bool LayOnThisMachine(const Description::Machine& machine, std::string* why);

// How long a run's effects are given to settle before the machine is read
// again, in milliseconds.
const unsigned SETTLE_MS = 10000;

// Lets the machine settle after a run, as the run's own effects settle on
// Windows: a service deleted while it ran or was open stays in the service
// manager until it has stopped and its last handle is closed, the one its
// own program holds among them, so how soon it goes is the speed at which
// that program ends. Waits, at most SETTLE_MS, until no service of `before`
// is marked for deletion with its program stopped or ended any more; returns
// those that still are at the bound. On the simulated Windows, where a stopped
// service goes with its last handle, there are none.
std::vector<std::string> Settle(const Description::Machine& before);

// Fills in what is observed rather than read: each service's program and
// the controls it received, each library's behaviour, and the libraries
// whose DllUnregisterServer ran.
void ObserveMachine(Description::Machine* machine);

// What the run printed to its console, where this side can see it ("" where not).
std::string ConsoleText();
