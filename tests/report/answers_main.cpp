// vk_report_answers DIR [COUNT]: writes the boot matrix's answers and the
// small fleet's (tests/report/answers.h) into DIR; with COUNT, that many
// answer files instead, the same ones over again under other machine names
// (NAME-00002, ...), as a fleet of that size would hold them.
#include "answers.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: vk_report_answers DIR [COUNT]\n");
        return 87;
    }
    std::vector<ReportAnswers::File> base = ReportAnswers::Matrix();
    for (ReportAnswers::File& file : ReportAnswers::Kinds())
        base.push_back(file);
    size_t count = argc == 3 ? std::strtoul(argv[2], nullptr, 10) : base.size();
    std::vector<ReportAnswers::File> files;
    for (size_t i = 0; i < count; ++i) {
        ReportAnswers::File file = base[i % base.size()];
        size_t copy = i / base.size();
        if (copy > 0) {
            // The copy's machine: its name in the file's and in the answer's
            // "machine" alike.
            char suffix[32];
            std::snprintf(suffix, sizeof suffix, "-%05zu", copy + 1);
            size_t dash = file.name.rfind('-');
            size_t dot = file.name.rfind('.');
            size_t end = dash != std::string::npos ? dash : dot;
            std::string machine = file.name.substr(0, end);
            file.name.insert(end, suffix);
            std::string field = "\"machine\": \"" + machine + "\"";
            size_t at = file.text.find(field);
            if (at != std::string::npos)
                file.text.replace(at, field.size(), "\"machine\": \"" + machine + suffix + "\"");
        }
        files.push_back(file);
    }
    if (!ReportAnswers::WriteAll(argv[1], files)) {
        std::fprintf(stderr, "vk_report_answers: %s cannot be written\n", argv[1]);
        return 3;
    }
    std::printf("%zu answer files written to %s\n", files.size(), argv[1]);
    return 0;
}
