#pragma once

// The search window's test network: a namespace "host" (10.1.0.1/24) where the window runs, joined by a veth
// link to a namespace "devices" (10.1.0.2/24) where vantrel-devsim answers. Made by each test and deleted
// with it, so that nothing the window sends leaves them.

#include <QString>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "netns_lab.h"

namespace vantrel::testing {

struct SearchLab {
    std::unique_ptr<NetnsLab> lab = std::make_unique<NetnsLab>();
    std::string host;
    std::string devices;

    // What failed when Make could not make the namespaces.
    QString Problem() const {
        return QStringLiteral("no network namespaces (needs root): ") + QString::fromStdString(lab->Error());
    }

    // False when the namespaces cannot be made (not root); Problem says why.
    bool Make() {
        host = lab->AddNamespace("uihost");
        devices = lab->AddNamespace("uidev");
        return !host.empty() && !devices.empty() && lab->Link(host, "10.1.0.1/24", devices, "10.1.0.2/24");
    }

    // vantrel-devsim in the devices' namespace with these options, once it listens.
    bool StartDevices(ChildProcess& simulator, std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), ToolPath("vantrel-devsim"));
        return simulator.Start(devices, arguments) && simulator.WaitForLine("listening", std::chrono::seconds(5));
    }
};

}  // namespace vantrel::testing
