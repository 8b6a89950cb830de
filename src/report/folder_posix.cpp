// The Linux build's listing of a folder of answers.
#include "report.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace Report {

bool ListPosixFolder(const std::string& folder, std::vector<std::string>* files, std::string* why) {
    DIR* listing = opendir(folder.c_str());
    if (listing == nullptr) {
        *why = std::string("cannot be listed: ") + std::strerror(errno);
        return false;
    }
    errno = 0;
    while (dirent* entry = readdir(listing)) {
        // A file system that does not tell the entry's type in the listing is asked.
        bool file = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat status;
            std::string path = folder + "/" + entry->d_name;
            file = stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
        }
        if (file)
            files->push_back(entry->d_name);
    }
    int error = errno;
    closedir(listing);
    if (error != 0) {
        *why = std::string("cannot be listed to its end: ") + std::strerror(error);
        return false;
    }
    return true;
}

} // namespace Report
