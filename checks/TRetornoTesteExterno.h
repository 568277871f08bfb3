#pragma once

#include <memory>
#include <utility>

#include "checks/TResponse.h"

namespace quelvar {

// The root of a mapped status-service reply; owns its response, which may be absent.
class TRetornoTesteExterno {
public:
    const TResponse* response() const { return Fresponse.get(); }
    void setResponse(std::unique_ptr<TResponse> value) { Fresponse = std::move(value); }

private:
    std::unique_ptr<TResponse> Fresponse;
};

}  // namespace quelvar
