// The display texts of the poll status codes: a state word for the pie and
// list colours, and a fault text naming the cause.
#include "monitor/PollSample.h"

#include "foundation/Strings.h"

namespace Kelm {

void GetStatusText(int status, std::string& stateWord, std::string& faultText, uint32_t routerAddress)
{
    switch (status) {
    case PollSample::KELM_GOOD:
        stateWord = "Good";
        break;
    case PollSample::KELM_UNKNOWN_CAUSE:
        stateWord = "Bad";
        faultText = "Unknown cause";
        break;
    case PollSample::KELM_SERVER_DOWN:
        stateWord = "Bad";
        faultText = "Server down";
        break;
    case PollSample::KELM_NO_DATA:
        stateWord = "Unknown";
        faultText = "No data";
        break;
    case PollSample::KELM_BAD_NAME:
        stateWord = "Unknown";
        faultText = "Bad name";
        break;
    case PollSample::KELM_NO_NETWORK:
        stateWord = "Unknown";
        faultText = "No network";
        break;
    case PollSample::KELM_NO_INTERNET:
        stateWord = "Unknown";
        faultText = "No Internet";
        break;
    case PollSample::KELM_BAD_ROUTER:
        stateWord = "Unknown";
        faultText = "Bad router";
        if (routerAddress != 0) faultText += " " + DottedAddress(routerAddress);
        break;
    default:
        stateWord = "Unexpected";
        faultText = ToString(status);
        break;
    }
}

std::string DottedAddress(uint32_t address)
{
    return ToString(address >> 24) + "." + ToString((address >> 16) & 0xFFu) + "." +
           ToString((address >> 8) & 0xFFu) + "." + ToString(address & 0xFFu);
}

}  // namespace Kelm
