// RawResponder: a loopback TCP listener that answers every connection with fixed bytes, for
// replies no HTTP server library would send (no status line, a broken one). Also a listener that
// never accepts, to make connections that cannot complete.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

class RawResponder {
public:
    // reply: the bytes every connection receives after its request head arrived; the
    // connection is closed afterwards. With accept == false connections are never accepted.
    explicit RawResponder(std::string reply, bool accept = true)
        : reply(std::move(reply))
    {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener, accept ? 8 : 0);
        socklen_t length = sizeof address;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        if (accept)
            thread = std::thread([this] { Run(); });
    }
    ~RawResponder()
    {
        stopping = true;
        if (thread.joinable())
            thread.join();
        ::close(listener);
    }
    RawResponder(const RawResponder&) = delete;
    RawResponder& operator=(const RawResponder&) = delete;

    int Port() const { return port; }
    std::string Url(const std::string& path) const
    {
        return "http://127.0.0.1:" + std::to_string(port) + path;
    }

private:
    void Run()
    {
        while (!stopping) {
            pollfd waiting {listener, POLLIN, 0};
            if (::poll(&waiting, 1, 50) <= 0)
                continue;
            const int connection = ::accept(listener, nullptr, nullptr);
            if (connection < 0)
                continue;
            std::string request;
            char buffer[1024];
            // Bounded: the request head of a client is small.
            for (int reads = 0; reads < 100 && request.find("\r\n\r\n") == std::string::npos;
                 ++reads) {
                pollfd readable {connection, POLLIN, 0};
                if (::poll(&readable, 1, 100) <= 0)
                    break;
                const ssize_t got = ::read(connection, buffer, sizeof buffer);
                if (got <= 0)
                    break;
                request.append(buffer, static_cast<std::size_t>(got));
            }
            if (!reply.empty()) {
                [[maybe_unused]] auto sent = ::write(connection, reply.data(), reply.size());
            }
            ::close(connection);
        }
    }

    std::string reply;
    int listener = -1;
    int port = 0;
    std::atomic<bool> stopping {false};
    std::thread thread;
};
