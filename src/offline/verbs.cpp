// The offline verbs as the Linux build's command line gives them.
#include "verbs.h"

#include "hive.h"
#include "offline.h"

namespace Offline {

Place PlaceOf(const Check::OfflineArguments& arguments) {
    Place place;
    place.windowsFolder = arguments.windows;
    while (place.windowsFolder.size() > 1 && place.windowsFolder.back() == '/')
        place.windowsFolder.pop_back();
    place.systemHive = arguments.systemHive;
    place.softwareHive = arguments.softwareHive;
    place.productFolder = arguments.folder;
    return place;
}

namespace {

int ReadVerb(const Check::OfflineArguments& arguments, Description::Machine* machine,
             std::vector<std::string>* warnings, std::vector<Check::Finding>* findings,
             std::string* why) {
    Reading reading;
    bool read = Read(PlaceOf(arguments), machine, &reading);
    *warnings = reading.warnings;
    *why = reading.why;
    if (!read)
        return reading.status;
    // Which set stands for "CurrentControlSet"; what was not looked at, the
    // judge says itself.
    findings->push_back(SetJudged(reading));
    return Check::CLEAN;
}

} // namespace

const Check::OfflineVerbs VERBS = {ReadVerb, RepairVerb};

Check::Finding SetJudged(const Reading& reading) {
    return {Check::Reason::ControlSetJudged,
            "HKLM\\SYSTEM\\" + Description::ControlSetName(reading.controlSet),
            "the set \"Select\\Default\" names, which the next boot uses: \"CurrentControlSet\" "
            "above stands for it",
            Check::CLEAN};
}

} // namespace Offline
