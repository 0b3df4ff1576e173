#include "HttpApi.h"

#include <nlohmann/json.hpp>

#include "Log.h"
#include "PeerAddress.h"

namespace tarvelind {
namespace {

HttpAnswer json(int status, const nlohmann::json& body) {
    return {status, body.dump()};
}

HttpAnswer refusal(int status, const std::string& reason) {
    return json(status, {{"error", reason}});
}

}  // namespace

HttpApi::HttpApi(PairingIssuer& pairing, std::string fingerprint, bool captureAllowed)
    : pairing_(pairing), fingerprint_(std::move(fingerprint)), captureAllowed_(captureAllowed) {}

HttpAnswer HttpApi::answer(const HttpRequest& request) {
    if (request.bodyTooLarge)
        return refusal(400, "bad request");
    if (request.path == "/v1/health" && request.method == "GET") {
        return json(200, {{"status", "ok"},
                          {"service", "tarvelind"},
                          {"version", TARVELIND_VERSION},
                          {"captureAllowed", captureAllowed_}});
    }
    if (request.path != "/v1/pairing/challenge" || request.method != "POST")
        return refusal(404, "not found");

    // Only the companion on this machine mints codes: a LAN peer that could do it would keep
    // invalidating the code the user is about to scan.
    if (!isLoopbackPeer(request.peer))
        return refusal(403, "pairing challenges are accepted from this machine only");
    if (!request.body.empty()) {
        auto body = nlohmann::json::parse(request.body, nullptr, false);
        if (body.is_discarded() || !body.is_object())
            return refusal(400, "the body must be a JSON object");
    }
    auto outcome = pairing_.issue();
    if (!outcome.issuedAt) {
        logLine("cannot refresh the pairing code: " + outcome.error);
        return refusal(500, "the pairing code could not be refreshed");
    }
    return json(
        200,
        {{"status", "ok"}, {"issuedAt", *outcome.issuedAt}, {"serverFingerprint", fingerprint_}});
}

}  // namespace tarvelind
