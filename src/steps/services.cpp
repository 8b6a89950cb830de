#include "../catalogue/catalogue.h"
#include "../registry/text.h"
#include "steps.h"

void RemoveServices() {
    SC_HANDLE scm = serviceManager;
    SERVICE_STATUS status;
    SC_HANDLE service = Win::OpenServiceA(scm, PREPARE_REMOVAL_SERVICE, SERVICE_ALL_ACCESS);
    if (service != NULL) {
        Win::ControlService(service, CONTROL_PREPARE_REMOVAL, &status);
        Win::CloseServiceHandle(service);
    }

    // Nothing waits for a service to stop: a deletion still pending when the
    // run ends is completed by the restart.
    for (const char* name = ServiceList; *name != 0; name = NextListEntry(name)) {
        service = Win::OpenServiceA(scm, name, SERVICE_ALL_ACCESS);
        if (service == NULL)
            continue;
        Win::ControlService(service, SERVICE_CONTROL_STOP, &status);
        Win::DeleteService(service);
        Win::CloseServiceHandle(service);
    }
}
