#pragma once
// A small HTTP/1.1 server on 127.0.0.1 (a free port) for the update-check tests: each path
// gets a canned reply; unknown paths get 404. One thread per connection; the destructor stops
// it, cutting short any reply that is still waiting out its delay.
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct HttpReply {
    int status = 200;
    std::string body;
    std::vector<std::string> headers; // extra header lines, without CR LF
    bool sendLength = true;           // false: no Content-Length, the body ends at close
    int delayMs = 0;                  // wait before sending anything
};

class LoopbackHttpServer {
public:
    LoopbackHttpServer();
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    bool Running() const { return m_listen >= 0; }
    int Port() const { return m_port; }
    // "http://127.0.0.1:<port><path>"
    std::string Url(const std::string& path) const;
    void Route(const std::string& path, HttpReply reply);
    // How many requests asked for `path`.
    int Hits(const std::string& path) const;

private:
    void AcceptLoop();
    void Serve(int fd);

    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::map<std::string, HttpReply> m_routes;
    std::map<std::string, int> m_hits;
    std::vector<std::thread> m_workers;
    std::thread m_acceptor;
};
