#include "tests/update/LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char* Reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

bool SendAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

LoopbackHttpServer::LoopbackHttpServer() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof(addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        return;
    }
    m_listen = fd;
    m_port = ntohs(addr.sin_port);
    m_acceptor = std::thread([this] { AcceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    m_stop = true;
    if (m_acceptor.joinable()) {
        m_acceptor.join();
    }
    for (std::thread& t : m_workers) {
        t.join();
    }
    if (m_listen >= 0) {
        ::close(m_listen);
    }
}

std::string LoopbackHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

void LoopbackHttpServer::Route(const std::string& path, HttpReply reply) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_routes[path] = std::move(reply);
}

int LoopbackHttpServer::Hits(const std::string& path) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_hits.find(path);
    return it == m_hits.end() ? 0 : it->second;
}

void LoopbackHttpServer::AcceptLoop() {
    while (!m_stop) {
        pollfd p{m_listen, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) {
            continue;
        }
        int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_workers.emplace_back([this, fd] { Serve(fd); });
    }
}

void LoopbackHttpServer::Serve(int fd) {
    // Read the request head (the tests only send GET without a body).
    std::string head;
    char buf[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536 && !m_stop) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) {
            continue;
        }
        ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
        if (n <= 0) {
            break;
        }
        head.append(buf, static_cast<std::size_t>(n));
    }
    // "GET <path> HTTP/1.1"
    std::string path;
    std::size_t sp1 = head.find(' ');
    std::size_t sp2 = sp1 == std::string::npos ? sp1 : head.find(' ', sp1 + 1);
    if (sp2 != std::string::npos) {
        path = head.substr(sp1 + 1, sp2 - sp1 - 1);
    }
    HttpReply reply;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_hits[path];
        auto it = m_routes.find(path);
        if (it != m_routes.end()) {
            reply = it->second;
        } else {
            reply.status = 404;
            reply.body = "<html><body>Not here</body></html>";
        }
    }
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(reply.delayMs);
    while (!m_stop && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!m_stop) {
        std::string out = "HTTP/1.1 " + std::to_string(reply.status) + " " +
                          Reason(reply.status) + "\r\nConnection: close\r\n";
        if (reply.sendLength) {
            out += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
        }
        for (const std::string& h : reply.headers) {
            out += h + "\r\n";
        }
        out += "\r\n" + reply.body;
        SendAll(fd, out);
        ::shutdown(fd, SHUT_WR);
    }
    ::close(fd);
}
