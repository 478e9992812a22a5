#include "cli/Doctor.h"

#include <windows.h>

namespace {

// The bridge maker's driver service, whose ports the system's device list shows.
constexpr const char* kDriverService = "silabser";

DoctorCheck DriverCheck() {
    DoctorCheck check{"driver", true, false, "", ""};
    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service =
        manager ? ::OpenServiceA(manager, kDriverService, SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS status{};
    if (service && ::QueryServiceStatus(service, &status)) {
        check.detail = std::string("the bridge's driver service ") + kDriverService +
                       (status.dwCurrentState == SERVICE_RUNNING ? " runs" : " is installed");
    } else {
        check.passed = false;
        check.detail =
            std::string("the bridge's driver service ") + kDriverService + " is not installed";
        check.fix = "install the bridge maker's USB to UART driver, then plug the unit in again";
    }
    if (service)
        ::CloseServiceHandle(service);
    if (manager)
        ::CloseServiceHandle(manager);
    return check;
}

} // namespace

std::vector<DoctorCheck> SystemChecks(const std::vector<Unit>& bridges) {
    std::vector<DoctorCheck> checks;
    checks.push_back({"program", true, false,
                      sizeof(void*) == 8 ? "64-bit: it needs the 64-bit bridge library"
                                         : "32-bit: it needs the 32-bit bridge library",
                      ""});
    checks.push_back(DriverCheck());
    checks.push_back({"bridges", !bridges.empty(), false,
                      std::to_string(bridges.size()) + " bridge(s) found",
                      bridges.empty() ? "plug the unit in and switch it on" : ""});
    return checks;
}
