#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Bounds the wait for the event server's answer from outside the waiting
// thread. The driver's calls block, and a server that is stopped but whose
// host still answers on the network (a suspended process, a hung machine
// behind a live switch) keeps them blocked for ever: neither the server's own
// statement time-out nor the socket's keepalives notice it. The watch cuts
// the connection's socket when the answer is late, so that the blocked call
// returns with an error and the connection is opened again later.
class ServerWatch {
public:
    // `cut` ends a socket's traffic (by default shutdown(2): the fd stays
    // the caller's to close).
    explicit ServerWatch(std::function<void(int socket)> cut = {});
    ~ServerWatch();
    ServerWatch(const ServerWatch&) = delete;
    ServerWatch& operator=(const ServerWatch&) = delete;

    // Watches `socket` until done(), cutting it once `ms` have passed. The
    // socket must stay open until done().
    void watch(int socket, std::chrono::milliseconds ms);
    // Ends the watch; true when the time ran out and the socket was cut.
    bool done();
    // The program is closing: the socket watched now, and every one watched
    // from now on, is cut once `grace` has passed (an answer on its way is
    // still taken). Any thread.
    void stop(std::chrono::milliseconds grace);

private:
    void run();

    std::function<void(int)> cut_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int socket_ = -1;
    std::chrono::steady_clock::time_point deadline_;
    bool cutDone_ = false;
    bool stopping_ = false;
    std::chrono::steady_clock::time_point stopDeadline_;
    bool quit_ = false;
    std::thread thread_;
};
