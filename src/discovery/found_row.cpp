#include "discovery/found_row.h"

#include <numeric>

namespace vantrel {

const char* DescribeRejectReason(RejectReason reason) {
    switch (reason) {
        case RejectReason::kNotReply:
            return "not a reply";
        case RejectReason::kImpossibleAddress:
            return "impossible address";
        case RejectReason::kSenderShareExceeded:
            return "sender share exceeded";
        case RejectReason::kNotOurs:
            return "not ours";
        case RejectReason::kBadMatch:
            return "malformed ONVIF reply";
        case RejectReason::kEarlierRound:
            return "earlier round";
        case RejectReason::kListFull:
            return "list full";
        case RejectReason::kCount:
            break;
    }
    return "";
}

std::uint64_t AdapterStatistics::Rejected() const {
    return std::accumulate(rejected.begin(), rejected.end(), std::uint64_t{0});
}

}  // namespace vantrel
