#pragma once

#include <string>
#include <vector>

namespace quelvar {

class RestClient;
class RestResponse;

enum class RestMethod { Get, Post };

enum class ParameterKind { RequestBody };

enum class ParameterEncoding { Encode, DoNotEncode };

// What the caller reads of the reply, which decides what a body longer than
// RestClient::kMaxBodyBytes does: with Content it fails the execution, since the content would
// be cut; with StatusOnly reading stops there, the connection is closed and the reply stands.
enum class ReplyUse { Content, StatusOnly };

// One named parameter of a request; Quelvar uses a single request-body parameter.
struct RestParameter {
    std::string name;
    std::string value;
    ParameterKind kind = ParameterKind::RequestBody;
    ParameterEncoding encoding = ParameterEncoding::Encode;
    std::string contentType;
};

// The service profile's request: method and parameters, executed through its client into its
// response holder.
class RestRequest {
public:
    RestRequest(RestClient& client, RestResponse& response);

    void setMethod(RestMethod method) { m_method = method; }
    RestMethod method() const { return m_method; }

    // Removes every parameter.
    void clearParameters() { m_parameters.clear(); }
    // Appends a parameter, or overwrites the one of the same name; returns the stored one.
    RestParameter& addParameter(RestParameter parameter);
    const std::vector<RestParameter>& parameters() const { return m_parameters; }

    // Performs the exchange and stores the final reply in the response holder; throws
    // Error("REST request failed: ...") when the exchange fails. A reply status is never an
    // error.
    void execute(ReplyUse use = ReplyUse::Content);

    RestClient& client() { return m_client; }
    RestResponse& response() { return m_response; }

private:
    void executeExchange(ReplyUse use);

    RestClient& m_client;
    RestResponse& m_response;
    RestMethod m_method = RestMethod::Post;
    std::vector<RestParameter> m_parameters;
};

}  // namespace quelvar
