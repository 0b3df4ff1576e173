// Raw bytes sent to the daemon's real server on a loopback port: libmicrohttpd reads the request
// line, the headers and the body, and hands the daemon's own code what it makes of them.
#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include "HttpServer.h"

static sockaddr_in server{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static tarvelind::PairingIssuer pairing(
        std::filesystem::temp_directory_path() / "tarvelind-fuzz-pairing.json", "print", {});
    static tarvelind::HttpApi api(pairing, "print", false);
    const int listening = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    socklen_t length = sizeof server;
    bind(listening, (sockaddr*)&server, length), listen(listening, 16),
        getsockname(listening, (sockaddr*)&server, &length);
    std::string error;
    static auto running = tarvelind::HttpServer::start(
        listening, {}, [](const tarvelind::HttpRequest& request) { return api.answer(request); },
        [](const std::string&) { std::abort(); }, error);
    return running ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // libFuzzer's timer signal interrupts waits (EINTR) but ends none: a hang stays a hang.
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(client, (sockaddr*)&server, sizeof server) != 0 && errno != EINTR)
        std::abort();
    send(client, data, size, MSG_NOSIGNAL);
    // libmicrohttpd reads edge-triggered and misses an end of stream that comes with the last
    // bytes of a request, so the end follows the first byte of the answer or a moment's wait.
    pollfd reply{client, POLLIN, 0};
    poll(&reply, 1, 2);
    shutdown(client, SHUT_WR);
    char answer[4096];
    for (ssize_t got = 1; got > 0 || (got < 0 && errno == EINTR);)
        got = read(client, answer, sizeof answer);
    close(client);
    return 0;
}
