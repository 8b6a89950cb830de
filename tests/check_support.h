// Shared by the companion program's tests and its corpus run.
#pragma once

#include <string>
#include <vector>

namespace CheckSupport {

// On the current simulated machine: the preview of a snapshot taken from it
// against the changes the uninstaller then makes on it, and the preview's
// verdict on the next boot against verify's judge of the machine the run
// leaves (the findings that set a status). The differences, as lines; empty
// when they are the same.
std::vector<std::string> PreviewAgainstRun();

// Takes out of the current machine what no reading of it can foresee, and
// says what that was: a call made to fail, a failing heap or console, keys
// that refuse deletion outside the product's trees (the reader asks of
// those), devices whose class installer refuses removal,
// servers that fail or fault when asked to unregister, and a user without
// administrative rights or the shutdown right (the uninstaller asks for an
// administrator; a preview assumes one).
std::vector<std::string> TakeOutUnforeseeable();

} // namespace CheckSupport
