// Until the main window lands, the program runs the start-up steps that exist and says so.
#include <cstdio>

#include "engine/startup.h"
#include "platform/net.h"
#include "settings/app_settings.h"

int main() {
    quorvane::AppSettings settings;
    const auto local = quorvane::PrepareStartupDefaults(settings);
    quorvane::UdpSocket notify = quorvane::OpenNotifySocket();
    std::printf("Quorvane V1.2: the main window and the monitoring engine are not built yet.\n");
    std::printf("Local address: %s\n", local ? quorvane::FormatIpv4(*local).c_str() : "none found");
    for (const auto& seg : settings.segments) {
        std::printf("Default segment: %s - %s\n", quorvane::FormatIpv4(seg.first).c_str(),
                    quorvane::FormatIpv4(seg.end).c_str());
    }
    std::printf("Syslog socket: %s\n", notify.valid() ? "open" : "could not be opened");
    return 0;
}
