#include "tests/form/RunScenarios.h"

#include "tests/checks/HttpMessages.h"

namespace quelvar::test {

namespace {

// The log of a run: the external part, then the internal part after the separator.
std::string runLog(std::string_view external, std::string_view internal) {
    return std::string(kExternalStart) + std::string(external) +
           std::string(kSeparatorAndInternalStart) + std::string(internal);
}

const std::string kChain200 =
    R"({"chain":[{"statusCode":200,"statusMessage":"OK"}],"status":"ok","code":""})";
const std::string kChain301 = R"({"chain":[{"statusCode":"301"},{"statusCode":"200"}],"code":""})";
const std::string kEproto = R"({"chain":[],"status":"error","code":"EPROTO"})";

const RunScenario kScenarios[] = {
    {"api_both_reachable",
     "api",
     responseReply(kChain200),
     textReply(200, "OK", "healthy"),
     false,
     runLog("Conex\u00e3o Externa - ok\r\n", "Conex\u00e3o Interna - ok\r\n"),
     {"imgApiExtGreen", "imgApiIntGreen"},
     "/healthcheck",
     "/healthcheck"},
    {"web_redirect_first_internal_204",
     "web",
     responseReply(kChain301),
     httpReply(204, "No Content", ""),
     false,
     runLog("Conex\u00e3o Externa - Erro\r\n", ""),
     {"imgWebExtRed"},
     "/lumora_web/loja",
     "/lumora_web/loja"},
    // The service profile drops the trailing "/" of its base URL.
    {"whats_eproto_internal_reachable",
     "whats",
     responseReply(kEproto),
     httpReply(200, "OK", "{}"),
     false,
     runLog("Problema com protocolo HTTPS, verifique se est\u00e1 correto.\r\n",
            "Conex\u00e3o Interna - ok\r\n"),
     {"imgWhatsExtRed", "imgWhatsIntGreen"},
     "/api-docs/",
     "/api-docs"},
    {"api_service_down_internal_500",
     "api",
     textReply(500, "Internal Server Error", "oops"),
     textReply(500, "Internal Server Error", "oops"),
     false,
     runLog("Servi\u00e7o de teste de conex\u00e3o externa fora do ar.\r\n",
            "Conex\u00e3o Interna - Erro\r\n"),
     {"imgApiIntRed"},
     "/healthcheck",
     "/healthcheck"},
};

}  // namespace

ScenarioServers::ScenarioServers(const RunScenario& scenario) {
    status.addReply(scenario.statusReply);
    internal.addReply(scenario.internalReply);
}

const RunScenario& statusEndpointFaultScenario() {
    static const RunScenario scenario{
        "web_status_endpoint_fault",
        "web",
        responseReply(R"({"chain":[{"statusCode":"200"}]})"),
        httpReply(200, "OK"),
        false,
        runLog("Conex\u00e3o Externa - Erro\r\n", "Conex\u00e3o Interna - ok\r\n"),
        {"imgWebIntGreen", "imgWebExtRed"},
        "/lumora_web/loja",
        "/lumora_web/loja"};
    return scenario;
}

const RunScenario& realStatusServiceScenario() {
    static const RunScenario scenario{
        "web_through_real_status_service",
        "web",
        // Not scripted: a real quelvar-status answers, after fetching the external address.
        "",
        httpReply(200, "OK", "loja"),
        false,
        runLog("Conex\u00e3o Externa - ok\r\n", "Conex\u00e3o Interna - ok\r\n"),
        {"imgWebIntGreen", "imgWebExtGreen"},
        "/lumora_web/loja",
        "/lumora_web/loja"};
    return scenario;
}

std::span<const RunScenario> runScenarios() {
    return kScenarios;
}

std::string apiTabConfig(std::string_view external, std::string_view internal, bool https) {
    return "const IP_EXTERNO = '" + std::string(external) + "';\nconst IP_INTERNO = '" +
           std::string(internal) + "';\nconst USA_HTTPS = " + (https ? "true" : "false") + ";\n";
}

void RecordedPauses::recordInto(CheckRunSettings& settings) {
    settings.pause = kPause;
    settings.sleep = [this](std::chrono::milliseconds pause) {
        ++count;
        lastMilliseconds = pause.count();
    };
}

std::string_view tabOfKind(std::string_view tipo) {
    if (tipo == "api") {
        return "Api";
    }
    if (tipo == "web") {
        return "Web";
    }
    return "Whats";
}

}  // namespace quelvar::test
