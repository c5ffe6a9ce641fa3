#pragma once

// A site plan for vantrel-devices import: UTF-8 CSV with the header
// address,port,name,organization,user,password,channels,cameraTypes, one device per line.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "records/records.h"

namespace vantrel {

inline constexpr const char* kPlanHeader = "address,port,name,organization,user,password,channels,cameraTypes";

struct PlanRow {
    int line = 0;  // where the row starts in the file, from 1
    std::string address;
    std::uint32_t port = 0;
    std::string name;
    std::vector<std::string> organization;  // names below the root; none for the root
    std::string user;
    std::string password;  // empty keeps a registered device's password
    std::uint32_t channels = 0;
    std::array<std::int32_t, kMaxChannels> cameraTypes{};  // N 0, D 1; all 0 when the column is empty
};

struct PlanProblem {
    int line = 0;
    std::string reason;
};

// Reads the rows of text and checks each on its own (fields, limits, refused characters, N/D letters) and against
// the others (an address and port or a name twice). Rows with a problem are left out of rows.
void ParsePlan(const std::string& text, std::vector<PlanRow>& rows, std::vector<PlanProblem>& problems);

}  // namespace vantrel
