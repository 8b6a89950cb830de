// A fleet's answer folder made from the described machines: each machine's
// preview answer before the run and its verify answer after the run and the
// restart, as the startup script writes them, and the files a share also
// ends up holding (a truncated answer, a snapshot, an answer of another
// schema, an empty file). For the report's tests and its figures.
#pragma once

#include <string>
#include <vector>

namespace ReportAnswers {

struct File {
    std::string name;
    std::string text;
};

// The machines' names: BREAK-NN for the boot matrix's breaks in its order
// (from 01), SOUND-N for its sound machines (from 1).
std::string BreakName(size_t index);
std::string SoundName(size_t index);

// Every break and sound machine of the boot matrix, each with its preview and
// verify answers, which name the machine through the simulated Windows'
// computer name.
std::vector<File> Matrix();

// A small fleet with one machine or file of each kind the report tells
// apart: a group made again after the run (verify 1), a deletion queued
// after the restart (verify 3010), a preview alone (the restart still
// to come), a machine without the product and one with foreign entries
// (sound), an unsafe break and one whose verdict cannot be made (5), a
// preview of 2 alone (the script stopped), an answer without a machine name
// whose file name needs quoting, and the unreadable files.
std::vector<File> Kinds();

// Writes `files` into `folder`; false when one cannot be written.
bool WriteAll(const std::string& folder, const std::vector<File>& files);

} // namespace ReportAnswers
