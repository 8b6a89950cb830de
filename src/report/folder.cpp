// The report verb: the folder of answers listed, each *.json read, the
// report printed and written. Listed through the reader's table of calls on
// Windows, so that VkCheck.exe imports nothing the reader does not.
#include "report.h"

#include "../description/calls.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace Report {

namespace {

// Windows takes either separator; a folder named with one keeps to it.
#ifdef _WIN32
const char SEPARATOR = '\\';
#else
const char SEPARATOR = '/';
#endif

std::string Join(const std::string& folder, const std::string& name) {
    if (!folder.empty() && (folder.back() == '/' || folder.back() == '\\'))
        return folder + name;
    return folder + SEPARATOR + name;
}

bool IsAnswerFile(const std::string& name) {
    if (name.size() < 5)
        return false;
    std::string tail = name.substr(name.size() - 5);
    for (char& c : tail)
        c = c >= 'A' && c <= 'Z' ? (char)(c + 32) : c;
    return tail == ".json";
}

bool Write(const std::string& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary);
    out << text;
    out.close();
    if (out)
        return true;
    std::fprintf(stderr, "VkCheck: %s cannot be written\n", file.c_str());
    return false;
}

// A file's modification time, UTC as answers carry theirs; "" unknown.
std::string Modified(const std::string& path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0)
        return "";
    std::time_t when = status.st_mtime;
    std::tm* utc = std::gmtime(&when);
    char text[32] = "";
    if (utc != nullptr)
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
    return text;
}

} // namespace

bool ListFolder(const Description::Calls& win, const std::string& folder,
                std::vector<std::string>* files, std::string* why) {
    WIN32_FIND_DATAA found;
    HANDLE search = win.FindFirstFileA(Join(folder, "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        DWORD error = win.GetLastError();
        // A drive's root lists no "." or "..": an empty one finds nothing.
        if (error == ERROR_FILE_NOT_FOUND)
            return true;
        *why = "cannot be listed (error " + std::to_string(error) + ")";
        return false;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            files->push_back(found.cFileName);
    } while (win.FindNextFileA(search, &found));
    DWORD error = win.GetLastError();
    win.FindClose(search);
    if (error != ERROR_NO_MORE_FILES) {
        *why = "cannot be listed to its end (error " + std::to_string(error) + ")";
        return false;
    }
    return true;
}

int Run(const std::string& folder, const std::string& csv, const std::string& html,
        bool (*list)(const std::string& folder, std::vector<std::string>* files,
                     std::string* why)) {
    std::vector<std::string> names;
    std::string why;
    if (!list(folder, &names, &why)) {
        std::fprintf(stderr, "VkCheck: %s: %s\n", folder.c_str(), why.c_str());
        return Check::NO_FOLDER;
    }
    std::sort(names.begin(), names.end());
    std::vector<Answer> answers;
    for (const std::string& name : names) {
        if (!IsAnswerFile(name))
            continue;
        std::ifstream in(Join(folder, name), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        if (!in) {
            Answer answer = Read(name, "");
            answer.unreadable = "cannot be opened for reading";
            answers.push_back(answer);
            continue;
        }
        answers.push_back(Read(name, text.str(), Modified(Join(folder, name))));
    }
    Fleet fleet = Gather(std::move(answers));
    std::string text = Text(fleet);
    std::fwrite(text.data(), 1, text.size(), stdout);
    bool written =
        (csv.empty() || Write(csv, Csv(fleet))) && (html.empty() || Write(html, Html(fleet)));
    return written ? Check::CLEAN : Check::NO_FOLDER;
}

} // namespace Report
