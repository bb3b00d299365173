// One poll's result, and the texts of the poll status codes.
#pragma once

#include <cstdint>
#include <string>

#include "concurrency/Time.h"

namespace Kelm {

struct PollSample {
    enum Status {
        KELM_GOOD = 0,
        KELM_UNKNOWN_CAUSE = 1,
        KELM_SERVER_DOWN = 2,
        KELM_NO_DATA = 3,
        KELM_BAD_NAME = 4,
        KELM_NO_NETWORK = 5,
        KELM_NO_INTERNET = 6,
        KELM_BAD_ROUTER = 7,
    };

    Time m_time{0};              // the scheduled grid time of the poll
    int m_status = KELM_NO_DATA;
    int m_connectSeconds = 0;    // whole seconds the connection attempt took
    uint32_t m_routerAddress = 0;  // the blamed router for KELM_BAD_ROUTER, else 0
};

// The state word ("Good", "Bad", "Unknown", "Unexpected") and the fault text
// of a status code; for KELM_GOOD the fault text is left as passed in.
void GetStatusText(int status, std::string& stateWord, std::string& faultText, uint32_t routerAddress);

// An IPv4 address held with its first octet in the most significant byte, in
// dotted form.
std::string DottedAddress(uint32_t address);

}  // namespace Kelm
