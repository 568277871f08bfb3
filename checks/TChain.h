#pragma once

#include <string>
#include <utility>

namespace quelvar {

// One status entry of the status service's chain.
class TChain {
public:
    const std::string& statusCode() const { return FstatusCode; }
    void setStatusCode(std::string value) { FstatusCode = std::move(value); }
    const std::string& statusMessage() const { return FstatusMessage; }
    void setStatusMessage(std::string value) { FstatusMessage = std::move(value); }

private:
    std::string FstatusCode;
    std::string FstatusMessage;
};

}  // namespace quelvar
