#include "ServerWatch.h"

#include <algorithm>

#include <sys/socket.h>

ServerWatch::ServerWatch(std::function<void(int)> cut)
    : cut_(cut ? std::move(cut) : [](int socket) { ::shutdown(socket, SHUT_RDWR); }),
      thread_([this] { run(); }) {}

ServerWatch::~ServerWatch() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void ServerWatch::watch(int socket, std::chrono::milliseconds ms) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        socket_ = socket;
        deadline_ = std::chrono::steady_clock::now() + ms;
        if (stopping_)
            deadline_ = std::min(deadline_, stopDeadline_);
        cutDone_ = false;
    }
    changed_.notify_all();
}

bool ServerWatch::done() {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool wasCut = cutDone_;
    socket_ = -1;
    cutDone_ = false;
    return wasCut;
}

void ServerWatch::stop(std::chrono::milliseconds grace) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        stopDeadline_ = std::chrono::steady_clock::now() + grace;
        deadline_ = std::min(deadline_, stopDeadline_);
    }
    changed_.notify_all();
}

void ServerWatch::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!quit_) {
        const bool watching = socket_ >= 0 && !cutDone_;
        if (watching && std::chrono::steady_clock::now() >= deadline_) {
            // Under the lock: done() cannot return, and the socket cannot be
            // closed, while it is cut.
            cut_(socket_);
            cutDone_ = true;
        } else if (watching) {
            changed_.wait_until(lock, deadline_);
        } else {
            changed_.wait(lock);
        }
    }
}
