#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "checks/TChain.h"

namespace quelvar {

// The status service's answer about the fetched URL; owns its chain entries, any of which may
// be absent (a null pointer).
class TResponse {
public:
    using Chain = std::vector<std::unique_ptr<TChain>>;

    const Chain& chain() const { return Fchain; }
    void setChain(Chain value) { Fchain = std::move(value); }
    const std::string& status() const { return Fstatus; }
    void setStatus(std::string value) { Fstatus = std::move(value); }
    const std::string& code() const { return Fcode; }
    void setCode(std::string value) { Fcode = std::move(value); }

private:
    Chain Fchain;
    std::string Fstatus;
    std::string Fcode;
};

}  // namespace quelvar
