#include "HttpApi.h"

#include <httplib.h>
#include <sys/socket.h>

#include <nlohmann/json.hpp>

#include "Log.h"
#include "PeerAddress.h"

namespace tarvelind {
namespace {

void answer(httplib::Response& res, int status, const nlohmann::json& body) {
    res.status = status;
    res.set_content(body.dump(), "application/json");
}

std::string reasonFor(int status) {
    switch (status) {
        case 400:
            return "bad request";
        case 403:
            return "forbidden";
        case 404:
            return "not found";
        default:
            return "request failed";
    }
}

}  // namespace

void configureHttpServer(httplib::Server& server, PairingIssuer& pairing,
                         const std::string& fingerprint, bool captureAllowed) {
    // The library's default is SO_REUSEPORT, which would let a second daemon bind the same port
    // and share the traffic instead of failing. SO_REUSEADDR alone still lets a restart bind
    // while the old connections linger in TIME_WAIT.
    server.set_socket_options([](int sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server.set_payload_max_length(kMaxBodyBytes);
    // Idle or slow connections would otherwise hold a worker for the library's five seconds,
    // delaying shutdown and starving the companion's one-second challenge.
    server.set_read_timeout(2, 0);
    server.set_write_timeout(2, 0);
    server.set_keep_alive_timeout(1);
    server.set_tcp_nodelay(true);

    server.Post("/v1/pairing/challenge", [&pairing, fingerprint](const httplib::Request& req,
                                                                 httplib::Response& res) {
        // Only the companion on this machine mints codes: a LAN peer that could do it would
        // keep invalidating the code the user is about to scan.
        if (!isLoopbackPeer(req.remote_addr)) {
            return answer(res, 403,
                          {{"error", "pairing challenges are accepted from this machine only"}});
        }
        if (!req.body.empty()) {
            auto body = nlohmann::json::parse(req.body, nullptr, false);
            if (body.is_discarded() || !body.is_object()) {
                return answer(res, 400, {{"error", "the body must be a JSON object"}});
            }
        }
        auto outcome = pairing.issue();
        if (!outcome.issuedAt) {
            logLine("cannot refresh the pairing code: " + outcome.error);
            return answer(res, 500, {{"error", "the pairing code could not be refreshed"}});
        }
        answer(res, 200,
               {{"status", "ok"},
                {"issuedAt", *outcome.issuedAt},
                {"serverFingerprint", fingerprint}});
    });

    server.Get("/v1/health", [captureAllowed](const httplib::Request&, httplib::Response& res) {
        answer(res, 200,
               {{"status", "ok"},
                {"service", "tarvelind"},
                {"version", TARVELIND_VERSION},
                {"captureAllowed", captureAllowed}});
    });

    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        // The library answers an oversized body with 413; clients of this daemon are told 400
        // like for any other request it will not take.
        if (res.status == 413)
            res.status = 400;
        if (res.body.empty())
            answer(res, res.status, {{"error", reasonFor(res.status)}});
    });

    server.set_exception_handler(
        [](const httplib::Request& req, httplib::Response& res, std::exception_ptr) {
            logLine("internal error while answering " + req.method + " " + req.path);
            answer(res, 500, {{"error", "internal error"}});
        });

    server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
        // A request that could not be parsed has no peer address filled in.
        std::string peer = req.remote_addr.empty() ? "an unparsed request" : req.remote_addr;
        logLine(req.method + " " + req.path + " " + std::to_string(res.status) + " from " + peer);
    });
}

}  // namespace tarvelind
